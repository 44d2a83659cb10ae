// The commands answered without any instance: about box, global setup and global setdown.
#include <cstring>
#include <string>

#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "context/gl_context.h"
#include "context/render_data.h"
#include "effect/VexorantPro.h"
#include "effect/handlers.h"
#include "gl/diagnostics.h"
#include "host/AEGP_SuiteHandler.h"
#include "host/VexoDiagnosticsSuite.h"

namespace {

std::string AboutText() {
    return std::string(vexo::kEffectName) + " v" + std::to_string(vexo::kMajorVersion) + "." +
           std::to_string(vexo::kMinorVersion) + "." + std::to_string(vexo::kBugVersion) +
           "\n"
           "\n"
           "Displaces pixels based on selected channels\n"
           "using a variety of transformations.\n"
           "\n"
           "Copyright 2026 Vexorant. All rights reserved.\n"
           "https://vexorant.pro\n";
}

// Our own hosts may be writing pictures or data to standard output; they offer a suite that
// takes the diagnostics instead. The application has none, and they stay on standard output.
// The sink is kept after setdown: such a host outlives the module it loaded.
void RouteDiagnostics(const SPBasicSuite* basic) {
    if (!basic || !basic->AcquireSuite || !basic->ReleaseSuite) return;
    const void* table = nullptr;
    if (basic->AcquireSuite(kVexoDiagnosticsSuite, kVexoDiagnosticsSuiteVersion1, &table) != 0)
        return;
    const auto* suite = static_cast<const VexoDiagnosticsSuite1*>(table);
    if (suite && suite->WriteDiagnostic) SetDiagnosticSink(suite->WriteDiagnostic);
    basic->ReleaseSuite(kVexoDiagnosticsSuite, kVexoDiagnosticsSuiteVersion1);
}

}  // namespace

PF_Err About(PF_InData* in_data, PF_OutData* out_data) {
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    // The text holds no '%', so it can stand as its own format.
    suites.ANSICallbacksSuite1()->sprintf(out_data->return_msg, AboutText().c_str());
    return PF_Err_NONE;
}

PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data) {
    out_data->my_version = vexo::kVersion;
    out_data->out_flags = vexo::kOutFlags;
    out_data->out_flags2 = vexo::kOutFlags2;
    RouteDiagnostics(in_data->pica_basicP);

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const PF_HandleSuite1* handles = suites.HandleSuite2();
    PF_Handle global = handles->host_new_handle(sizeof(LocalGLStruct));
    if (!global) return PF_Err_OUT_OF_MEMORY;
    out_data->global_data = global;

    // Stays locked until setdown: render threads read the block through the handle.
    auto* block = static_cast<LocalGLStruct*>(handles->host_lock_handle(global));
    if (!block) return PF_Err_NONE;
    std::memset(static_cast<void*>(block), 0, sizeof(*block));  // all zeros is a valid record

    // No context is no error: the render threads try again.
    MakeGlobalRecord(block);
    return PF_Err_NONE;
}

PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data) {
    if (!in_data->global_data) return PF_Err_NONE;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const PF_HandleSuite1* handles = suites.HandleSuite2();
    auto* block = static_cast<LocalGLStruct*>(handles->host_lock_handle(in_data->global_data));
    DeleteContextsOfEndedThreads();
    if (block && block->context) {
        SetCurrentContext(block->context);
        DeleteGLPrograms(&block->programs);
        DeleteContext(block->context);
        block->context = nullptr;
        SetCurrentContext(nullptr);
    }
    // The block has no use after setdown; hand its memory back rather than leak it.
    handles->host_dispose_handle(in_data->global_data);
    out_data->global_data = nullptr;
    return PF_Err_NONE;
}
