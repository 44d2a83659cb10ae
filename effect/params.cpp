// Parameter setup: declares the controls of the table, in order.
#include "effect/handlers.h"
#include "params/param_table.h"

PF_Err ParamsSetup(PF_InData* in_data, PF_OutData* out_data) {
    for (const ParamRow& row : kParamRows) {
        PF_ParamDef def;
        MakeParamDef(row, in_data, &def);
        // -1 appends; the row's position is the number of rows declared before it.
        if (const PF_Err err = in_data->inter.add_param(in_data->effect_ref, -1, &def)) {
            return err;
        }
    }
    out_data->num_params = kParamCount;
    return PF_Err_NONE;
}
