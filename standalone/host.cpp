#include "standalone/host.h"

#include <cstdio>
#include <exception>

#include "standalone/suites.h"

namespace vexo_host {

PF_InData MakeInData(const Effect& effect, PF_ProgPtr effect_ref) {
    PF_InData in{};
    in.utils = UtilCallbacks();
    in.effect_ref = effect_ref;
    in.version = {13, 25};
    in.appl_id = 0x56584f52;  // 'VXOR'
    in.time_scale = 24;
    in.time_step = 1;
    in.local_time_step = 1;
    in.total_time = 1;
    in.downsample_x = {1, 1};
    in.downsample_y = {1, 1};
    in.pixel_aspect_ratio = {1, 1};
    in.global_data = effect.global_data;
    in.pica_basicP = BasicSuite();
    return in;
}

PF_Err Send(const Effect& effect, PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
            PF_ParamDef* params[], PF_LayerDef* output, void* extra) {
    try {
        return effect.entry(cmd, in_data, out_data, params, output, extra);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "vexorant: command %d let an exception escape: %s\n", int(cmd),
                     e.what());
    } catch (...) {
        std::fprintf(stderr, "vexorant: command %d let an exception escape\n", int(cmd));
    }
    return PF_Err_INTERNAL_STRUCT_DAMAGED;
}

PF_Err SendAbout(const Effect& effect, std::string* text) {
    PF_InData in = MakeInData(effect, nullptr);
    PF_OutData out{};
    const PF_Err err = Send(effect, PF_Cmd_ABOUT, &in, &out);
    out.return_msg[sizeof out.return_msg - 1] = '\0';
    *text = out.return_msg;
    return err;
}

PF_Err SendGlobalSetup(Effect* effect) {
    PF_InData in = MakeInData(*effect, nullptr);
    PF_OutData out{};
    const PF_Err err = Send(*effect, PF_Cmd_GLOBAL_SETUP, &in, &out);
    effect->version = out.my_version;
    effect->out_flags = out.out_flags;
    effect->out_flags2 = out.out_flags2;
    effect->global_data = out.global_data;
    effect->set_up = err == PF_Err_NONE;
    return err;
}

PF_Err SendGlobalSetdown(Effect* effect) {
    PF_InData in = MakeInData(*effect, nullptr);
    PF_OutData out{};
    out.global_data = effect->global_data;
    const PF_Err err = Send(*effect, PF_Cmd_GLOBAL_SETDOWN, &in, &out);
    effect->global_data = out.global_data;
    effect->set_up = false;
    return err;
}

}  // namespace vexo_host
