// One handler per command the entry point answers. Each returns the host error code of the
// command; suite failures may also leave as a raised integer code.
#pragma once
#include "AE_Effect.h"
#include "render/smart_render.h"

PF_Err About(PF_InData* in_data, PF_OutData* out_data);
PF_Err GlobalSetup(PF_InData* in_data, PF_OutData* out_data);
PF_Err GlobalSetdown(PF_InData* in_data, PF_OutData* out_data);
PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data);
PF_Err UserChangedParam(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                        const PF_UserChangedParamExtra* extra);
PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[]);
PF_Err SmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra);
