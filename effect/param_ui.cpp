// Parameter interaction. Both commands reach the host through its AEGP suites with plug-in id 0.
// Every suite a command may need is acquired before its first host call: a missing suite then
// ends the command before it holds anything the host must get back (an effect handle, a stream
// reference, an open undo group).
#include "effect/param_ui.h"

#include <cstdio>

#include "AE_EffectSuites.h"
#include "effect/handlers.h"

namespace {

constexpr AEGP_PluginID kPluginId = 0;

constexpr ResetGroup kResetGroups[] = {
    {kParamResetAdjustments,
     "Reset Adjustments Controls",
     {kParamInvertMap, kParamMapGamma, kParamMapSoftness, kParamDisplacementOffset,
      kParamDisplacementEasing},
     5},
    {kParamResetTransforms,
     "Reset Transform Controls",
     {kParamTranslateX, kParamTranslateY, kParamRotate, kParamUniformScale, kParamScaleX,
      kParamScaleY, kParamAnchorX, kParamAnchorY},
     8},
    {kParamResetMultipliers,
     "Reset Chromatic Aberration Controls",
     {kParamRedMultiplier, kParamGreenMultiplier, kParamBlueMultiplier},
     3},
};

// Writes one stream's value. The reference is given back whatever happened to the write.
A_Err ResetStream(const AEGP_StreamSuite4* streams, AEGP_EffectRefH effect, PF_ParamIndex index,
                  double value) {
    AEGP_StreamRefH stream = nullptr;
    A_Err err = streams->AEGP_GetNewEffectStreamByIndex(kPluginId, effect, index, &stream);
    if (!err) {
        AEGP_StreamValue2 stream_value{};
        stream_value.streamH = stream;
        stream_value.val.one_d = value;
        err = streams->AEGP_SetStreamValue(kPluginId, stream, &stream_value);
    }
    if (stream) {
        const A_Err dispose_err = streams->AEGP_DisposeStream(stream);
        if (!err) err = dispose_err;
    }
    return err;
}

// The running result keeps the first error; a later step's error never hides it.
void Keep(A_Err* running, A_Err err) {
    if (!*running) *running = err;
}

void SetName(PF_ParamDef* def, const char* name) {
    std::snprintf(def->name, sizeof def->name, "%s", name);
}

}  // namespace

const ResetGroup* FindResetGroup(PF_ParamIndex button) {
    for (const ResetGroup& group : kResetGroups) {
        if (group.button == button) return &group;
    }
    return nullptr;
}

A_Err hideStream(AEGP_SuiteHandler* suites, int index, AEGP_EffectRefH* effect,
                 unsigned char hide) {
    const AEGP_StreamSuite2* streams = suites->StreamSuite7();
    const AEGP_DynamicStreamSuite2* dynamic = suites->DynamicStreamSuite2();
    AEGP_StreamRefH stream = nullptr;
    A_Err err = streams->AEGP_GetNewEffectStreamByIndex(kPluginId, *effect, index, &stream);
    if (!err)
        err = dynamic->AEGP_SetDynamicStreamFlag(stream, AEGP_DynStreamFlag_HIDDEN, false, hide);
    // A stream reference is given back even when the flag could not be set.
    if (stream) Keep(&err, streams->AEGP_DisposeStream(stream));
    return err;
}

PF_Err UserChangedParam(PF_InData* in_data, PF_OutData*, PF_ParamDef*[],
                        const PF_UserChangedParamExtra* extra) {
    if (!extra) return PF_Err_BAD_CALLBACK_PARAM;
    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const ResetGroup* group = FindResetGroup(extra->param_index);
    const AEGP_PFInterfaceSuite1* pf_interface = suites.PFInterfaceSuite1();
    const AEGP_EffectSuite3* effects = suites.EffectSuite3();
    const AEGP_UtilitySuite3* utility = group ? suites.UtilitySuite7() : nullptr;
    const AEGP_StreamSuite4* streams = group ? suites.StreamSuite9() : nullptr;

    AEGP_EffectRefH effect = nullptr;
    A_Err err = pf_interface->AEGP_GetNewEffectForEffect(kPluginId, in_data->effect_ref, &effect);
    if (!err && group) {
        err = utility->AEGP_StartUndoGroup(group->undo_name);
        if (!err) {
            for (int i = 0; i < group->count && !err; ++i) {
                const PF_ParamIndex index = group->streams[i];
                err = ResetStream(streams, effect, index, FindParamRow(index)->dephault);
            }
            // An undo group that was opened is closed, even after a failed write.
            Keep(&err, utility->AEGP_EndUndoGroup());
        }
    }
    if (effect) Keep(&err, effects->AEGP_DisposeEffect(effect));
    return err;
}

PF_Err UpdateParamsUI(PF_InData* in_data, PF_OutData*, PF_ParamDef* params[]) {
    // The host hands over `num_params` definitions; fewer than were declared means the
    // parameters were never set up, and there is nothing to update.
    if (!params || in_data->num_params < kParamCount) return PF_Err_BAD_CALLBACK_PARAM;
    // Only copies are changed and handed back; the host's definitions are left as they are.
    PF_ParamDef defs[kParamCount];
    for (int i = 0; i < kParamCount; ++i) {
        if (!params[i]) return PF_Err_BAD_CALLBACK_PARAM;
        defs[i] = *params[i];
    }

    AEGP_SuiteHandler suites(in_data->pica_basicP);
    const AEGP_PFInterfaceSuite1* pf_interface = suites.PFInterfaceSuite1();
    const AEGP_EffectSuite2* effects = suites.EffectSuite2();
    const PF_ParamUtilsSuite3* param_utils = suites.ParamUtilsSuite3();
    suites.StreamSuite7();  // for hideStream
    suites.DynamicStreamSuite2();

    AEGP_EffectRefH effect = nullptr;
    A_Err err = pf_interface->AEGP_GetNewEffectForEffect(kPluginId, in_data->effect_ref, &effect);

    // The debug controls never show, whatever the project says.
    for (int index = kParamDebugStart; index <= kParamDebugEnd && !err; ++index) {
        err = hideStream(&suites, index, &effect, 1);
    }

    PF_ParamDef& scale_x = defs[kParamScaleX];
    PF_ParamDef& scale_y = defs[kParamScaleY];
    scale_x.param_type = PF_Param_FLOAT_SLIDER;
    scale_y.param_type = PF_Param_FLOAT_SLIDER;
    scale_x.flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
    scale_y.flags |= PF_ParamFlag_COLLAPSE_TWIRLY;
    SetName(&scale_y, "Scale Y");
    if (!err && defs[kParamUniformScale].u.bd.value == 1) {
        // One slider drives both axes.
        scale_y.ui_flags |= PF_PUI_DISABLED;
        SetName(&scale_x, "Scale");
        err = param_utils->PF_UpdateParamUI(in_data->effect_ref, kParamScaleY, &scale_y);
        if (!err) err = param_utils->PF_UpdateParamUI(in_data->effect_ref, kParamScaleX, &scale_x);
        if (!err) err = hideStream(&suites, kParamScaleY, &effect, 1);
    } else {
        scale_y.ui_flags &= ~PF_PUI_DISABLED;
        SetName(&scale_x, "Scale X");
        if (!err) err = param_utils->PF_UpdateParamUI(in_data->effect_ref, kParamScaleY, &scale_y);
        if (!err) err = param_utils->PF_UpdateParamUI(in_data->effect_ref, kParamScaleX, &scale_x);
        if (!err) err = hideStream(&suites, kParamScaleY, &effect, 0);
    }

    if (effect) Keep(&err, effects->AEGP_DisposeEffect(effect));
    return err;
}
