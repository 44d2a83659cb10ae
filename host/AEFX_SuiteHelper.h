// Suite acquisition for callers that report failure to the user instead of raising.
#pragma once
#include "AE_Effect.h"
#include "adobesdk/DrawbotSuite.h"

#ifdef __cplusplus
extern "C" {
#endif

PF_Err AEFX_AcquireSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                         int32_t version, const char* error_stringPC, void** suite);
PF_Err AEFX_ReleaseSuite(PF_InData* in_data, PF_OutData* out_data, const char* name,
                         int32_t version, const char* error_stringPC);
PF_Err AEFX_AcquireDrawbotSuites(PF_InData* in_data, PF_OutData* out_data, DRAWBOT_Suites* suiteP);
PF_Err AEFX_ReleaseDrawbotSuites(PF_InData* in_data, PF_OutData* out_data);

#ifdef __cplusplus
}
#endif
