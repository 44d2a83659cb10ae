#include <new>

#include "AE_Effect.h"
#include "effect/handlers.h"

#if defined(_WIN32)
#define VEXO_EXPORT __declspec(dllexport)
#else
#define VEXO_EXPORT __attribute__((visibility("default")))
#endif

namespace {

PF_Err Dispatch(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                void* extra) {
    switch (cmd) {
        case PF_Cmd_ABOUT:
            return About(in_data, out_data);
        case PF_Cmd_GLOBAL_SETUP:
            return GlobalSetup(in_data, out_data);
        case PF_Cmd_GLOBAL_SETDOWN:
            return GlobalSetdown(in_data, out_data);
        case PF_Cmd_PARAMS_SETUP:
            return ParamsSetup(in_data, out_data);
        case PF_Cmd_USER_CHANGED_PARAM:
            return UserChangedParam(in_data, out_data, params,
                                    static_cast<const PF_UserChangedParamExtra*>(extra));
        case PF_Cmd_UPDATE_PARAMS_UI:
            return UpdateParamsUI(in_data, out_data, params);
        case PF_Cmd_SMART_PRE_RENDER:
            return SmartPreRender(in_data, static_cast<PF_PreRenderExtra*>(extra));
        case PF_Cmd_SMART_RENDER:
            return SmartRender(in_data, out_data, static_cast<PF_SmartRenderExtra*>(extra));
        default:
            return PF_Err_NONE;
    }
}

}  // namespace

extern "C" VEXO_EXPORT PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                                         PF_ParamDef* params[], PF_LayerDef* /*output*/,
                                         void* extra) {
    // Nothing may unwind into the host: raised host codes are returned as they are, anything
    // else becomes a code the host understands.
    try {
        return Dispatch(cmd, in_data, out_data, params, extra);
    } catch (PF_Err err) {
        return err;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}
