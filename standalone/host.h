// Drives an effect through its entry point the way the host application does.
#pragma once
#include <string>

#include "AE_Effect.h"

namespace vexo_host {

// The entry point every effect module exports.
using EffectMainFunc = PF_Err (*)(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                  PF_ParamDef* params[], PF_LayerDef* output, void* extra);

// What the host keeps of one loaded effect between commands.
struct Effect {
    EffectMainFunc entry = nullptr;
    PF_Handle global_data = nullptr;
    A_u_long version = 0;
    PF_OutFlags out_flags = 0;
    PF_OutFlags2 out_flags2 = 0;
    bool set_up = false;
};

// The in_data the host hands with every command; `effect_ref` names the instance (null for the
// global commands).
PF_InData MakeInData(const Effect& effect, PF_ProgPtr effect_ref);

// Calls the entry point once. An exception escaping it is a fault of the module: it is reported
// on standard error and answered with PF_Err_INTERNAL_STRUCT_DAMAGED.
PF_Err Send(const Effect& effect, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
            PF_ParamDef* params[] = nullptr, PF_LayerDef* output = nullptr, void* extra = nullptr);

PF_Err SendAbout(const Effect& effect, std::string* text);
// Keeps the version, flags and global data the effect declares.
PF_Err SendGlobalSetup(Effect* effect);
PF_Err SendGlobalSetdown(Effect* effect);

}  // namespace vexo_host
