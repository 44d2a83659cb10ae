#include "host/AEFX_SuiteHelper.h"

#include "AE_EffectCB.h"
#include "SPBasic.h"
#include "SPErrorCodes.h"

namespace {

constexpr const char* kAcquireFailed = "Not able to acquire AEFX Suite.";
constexpr const char* kReleaseFailed = "Not able to release AEFX Suite.";

PF_Err ReportFailure(PF_InData* in_data, PF_OutData* out_data, const char* text, PF_Err code) {
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    // The text goes in as an argument, never as the format: a caller's text may hold a '%'.
    in_data->utils->ansi.sprintf(out_data->return_msg, "%s", text);
    return code;
}

}  // namespace

extern "C" PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                    int32_t version, const char* error_stringPC, void** suite) {
    const void* table = nullptr;
    SPBasicSuite* basic = in_data->pica_basicP;
    if (basic && basic->AcquireSuite(name, version, &table) == kSPNoError && table) {
        *suite = const_cast<void*>(table);
        return PF_Err_NONE;
    }
    return ReportFailure(in_data, out_data, error_stringPC ? error_stringPC : kAcquireFailed,
                         PF_Err_BAD_CALLBACK_PARAM);
}

extern "C" PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                    int32_t version, const char* error_stringPC) {
    SPBasicSuite* basic = in_data->pica_basicP;
    if (!basic) {
        return ReportFailure(in_data, out_data, error_stringPC ? error_stringPC : kReleaseFailed,
                             PF_Err_BAD_CALLBACK_PARAM);
    }
    basic->ReleaseSuite(name, version);
    return PF_Err_NONE;
}

namespace {

struct DrawbotRow {
    const char* name;
    int32_t version;
};

constexpr DrawbotRow kDrawbotRows[] = {
    {kDRAWBOT_DrawSuite, kDRAWBOT_DrawSuite_VersionCurrent},
    {kDRAWBOT_SupplierSuite, kDRAWBOT_SupplierSuite_VersionCurrent},
    {kDRAWBOT_SurfaceSuite, kDRAWBOT_SurfaceSuite_VersionCurrent},
    {kDRAWBOT_PathSuite, kDRAWBOT_PathSuite_VersionCurrent},
};

}  // namespace

extern "C" PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data,
                                            DRAWBOT_Suites* suiteP) {
    if (!suiteP) {
        return ReportFailure(in_data, out_data,
                             "NULL suite pointer passed to AEFX_AcquireDrawbotSuites",
                             PF_Err_UNRECOGNIZED_PARAM_TYPE);
    }
    void** fields[] = {reinterpret_cast<void**>(&suiteP->drawbot_suiteP),
                       reinterpret_cast<void**>(&suiteP->supplier_suiteP),
                       reinterpret_cast<void**>(&suiteP->surface_suiteP),
                       reinterpret_cast<void**>(&suiteP->path_suiteP)};
    for (int i = 0; i < 4; ++i) {
        const PF_Err err = AEFX_AcquireSuite(in_data, out_data, kDrawbotRows[i].name,
                                             kDrawbotRows[i].version, nullptr, fields[i]);
        if (err) return err;
    }
    return PF_Err_NONE;
}

extern "C" PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data) {
    for (const DrawbotRow& row : kDrawbotRows) {
        AEFX_ReleaseSuite(in_data, out_data, row.name, row.version, nullptr);
    }
    return PF_Err_NONE;
}
