// Suite acquisition for callers that report failure to the user instead of raising.
#pragma once
#include "AE_Effect.h"
#include "adobesdk/DrawbotSuite.h"

#if defined(__APPLE__)
// The macOS module exports these beside its entry point (effect/exports_macos.txt).
#define VEXO_AEFX_API __attribute__((visibility("default")))
#else
#define VEXO_AEFX_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

VEXO_AEFX_API PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                       int32_t version, const char* error_stringPC, void** suite);
VEXO_AEFX_API PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                                       int32_t version, const char* error_stringPC);
VEXO_AEFX_API PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data,
                                               DRAWBOT_Suites* suiteP);
VEXO_AEFX_API PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data);

#ifdef __cplusplus
}
#endif
