// Effect-side suites of the host API, under the host SDK's own names.
#pragma once
#include "AE_Effect.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kPFParamUtilsSuite "PF Param Utils Suite"
#define kPFParamUtilsSuiteVersion3 3

typedef struct {
    A_long reservedAL[4];
} PF_State;

typedef struct PF_ParamUtilsSuite3 {
    PF_Err (*PF_UpdateParamUI)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                               const PF_ParamDef* defP);
    PF_Err (*PF_GetCurrentState)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                 const A_Time* startPT, const A_Time* durationPT, PF_State* stateP);
    PF_Err (*PF_AreStatesIdentical)(PF_ProgPtr effect_ref, const PF_State* state1P,
                                    const PF_State* state2P, A_Boolean* samePB);
    PF_Err (*PF_IsIdenticalCheckout)(PF_ProgPtr effect_ref, PF_ParamIndex param_index,
                                     A_long what_time1, A_long time_step1, A_u_long time_scale1,
                                     A_long what_time2, A_long time_step2, A_u_long time_scale2,
                                     PF_Boolean* identicalPB);
    void* reserved[5];
} PF_ParamUtilsSuite3;

#ifdef __cplusplus
}
#endif
