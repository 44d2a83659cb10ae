#include "context/render_data.h"

#include <GL/glew.h>

#include <cstdint>

#include "gl/gl_errors.h"
#include "gl/program.h"
#include "shaders/shaders.h"

namespace {

uint64_t Word(const char* text) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text)); }

}  // namespace

void CreateGLPrograms(GLPrograms* programs) {
    // Built once per process; the texts they point to live as long as the module.
    static const uint64_t swizzleIn_params[] = {GL_VERTEX_SHADER, Word(vert), GL_FRAGMENT_SHADER,
                                                Word(swizzleIn), 0};
    static const uint64_t displace_params[] = {GL_VERTEX_SHADER, Word(vertIdentity),
                                               GL_FRAGMENT_SHADER, Word(displace), 0};
    static const uint64_t blurW_params[] = {GL_VERTEX_SHADER, Word(vertIdentity),
                                            GL_FRAGMENT_SHADER, Word(blurW), 0};
    static const uint64_t blurH_params[] = {GL_VERTEX_SHADER, Word(vertIdentity),
                                            GL_FRAGMENT_SHADER, Word(blurH), 0};
    static const uint64_t bicubic_params[] = {GL_VERTEX_SHADER, Word(vertIdentity),
                                              GL_FRAGMENT_SHADER, Word(bicubic), 0};
    static const uint64_t oversample_params[] = {GL_VERTEX_SHADER, Word(vertIdentity),
                                                 GL_FRAGMENT_SHADER, Word(oversample), 0};
    if (!programs) return;

    // Every text carries its own version line.
    const char* header = "";
    programs->swizzleInProgram = CreateProgram(swizzleIn_params, header);
    programs->displaceProgram = CreateProgram(displace_params, header);
    programs->blurWProgram = CreateProgram(blurW_params, header);
    programs->blurHProgram = CreateProgram(blurH_params, header);
    programs->bicubicProgram = CreateProgram(bicubic_params, header);
    programs->oversampleProgram = CreateProgram(oversample_params, header);
}

void DeleteGLPrograms(GLPrograms* programs) {
    if (!programs) return;
    DeleteProgram(&programs->swizzleInProgram);
    DeleteProgram(&programs->displaceProgram);
    DeleteProgram(&programs->blurWProgram);
    DeleteProgram(&programs->blurHProgram);
    DeleteProgram(&programs->bicubicProgram);
    DeleteProgram(&programs->oversampleProgram);
}

void tls_ctx_deleter::operator()(LocalGLStruct* record) const {
    if (record && record->context) {
        SetCurrentContext(record->context);
        DeleteGLPrograms(&record->programs);
        DeleteDisplaceVariants(&record->displaceVariants);
        DeleteContext(record->context);
        record->context = nullptr;
    }
    delete record;
}

// A thread_local with a non-trivial destructor: the C++ runtime runs it on the exiting thread
// (for the main thread, at exit() before static destructors and before the GL libraries unload),
// which is where the record's context can be made current and torn down.
thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;

std::recursive_mutex globalMutex;

namespace {

// Creations that failed in a row on this thread. A creation can fail for a while (a driver
// restarting after a reset), so later frames try again, one try each, up to a bound.
thread_local int t_failed_creations = 0;

void MakeContextAndPrograms(LocalGLStruct* record) {
    record->context = CreateContext(nullptr);
    if (!record->context) {
        ++t_failed_creations;
        return;
    }
    t_failed_creations = 0;
    SetCurrentContext(record->context);
    CreateGLPrograms(&record->programs);
}

}  // namespace

void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* /*out_data*/) {
    static std::mutex tls_mutex;
    std::lock_guard<std::mutex> lock(tls_mutex);

    if (local_render_data) {
        if (!local_render_data->context && !ContextCreationGivenUp()) {
            MakeContextAndPrograms(local_render_data.get());
        }
        // A context-less record makes no context current, which is what its thread needs.
        SetCurrentContext(local_render_data->context);
        return;
    }

    // Threads only get a context when global setup proved one can be made.
    PF_Handle global = in_data ? in_data->global_data : nullptr;
    const auto* block =
        global ? static_cast<const LocalGLStruct*>(static_cast<void*>(*global)) : nullptr;
    if (!block || !block->context) return;

    local_render_data.reset(new LocalGLStruct{});
    MakeContextAndPrograms(local_render_data.get());
}

bool ContextCreationGivenUp() { return t_failed_creations >= kContextCreationTries; }

bool ReleaseLostRenderData() {
    if (!local_render_data || !local_render_data->context) return false;
    if (!TakeGLContextLost()) return false;
    // Its programs and objects went with the reset; deleting them is harmless, and the context
    // itself must go so that the next frame makes a fresh one.
    local_render_data.reset();
    return true;
}
