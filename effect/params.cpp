// Placeholder until the parameter set lands: the command declares nothing and succeeds.
#include "handlers.h"

PF_Err ParamsSetup(PF_InData*, PF_OutData*) { return PF_Err_NONE; }
PF_Err UserChangedParam(PF_InData*, PF_OutData*, PF_ParamDef*[], const PF_UserChangedParamExtra*) {
    return PF_Err_NONE;
}
PF_Err UpdateParamsUI(PF_InData*, PF_OutData*, PF_ParamDef*[]) { return PF_Err_NONE; }
