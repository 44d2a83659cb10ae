#include "params/param_table.h"

#include <cmath>
#include <cstring>

#include "AE_EffectCB.h"

namespace {

constexpr ParamRow Layer(PF_ParamIndex index, A_long id, const char* name, A_long dephault) {
    return {index, id, PF_Param_LAYER, name, 0, nullptr, 0, double(dephault), 0, 0, 0, 0, 0, 0};
}

constexpr ParamRow Popup(PF_ParamIndex index, A_long id, const char* name, const char* entries,
                         A_short num_choices, A_short dephault) {
    return {index, id, PF_Param_POPUP, name, 0, entries, num_choices, double(dephault), 0, 0, 0, 0,
            0,     0};
}

constexpr ParamRow GroupStart(PF_ParamIndex index, A_long id, const char* name,
                              PF_ParamFlags flags) {
    return {index, id, PF_Param_GROUP_START, name, flags, nullptr, 0, 0, 0, 0, 0, 0, 0, 0};
}

constexpr ParamRow GroupEnd(PF_ParamIndex index, A_long id) {
    return {index, id, PF_Param_GROUP_END, nullptr, 0, nullptr, 0, 0, 0, 0, 0, 0, 0, 0};
}

constexpr ParamRow Checkbox(PF_ParamIndex index, A_long id, const char* name, PF_ParamFlags flags,
                            const char* box_text, bool dephault) {
    return {
        index, id, PF_Param_CHECKBOX, name, flags, box_text, 0, dephault ? 1.0 : 0.0, 0, 0, 0, 0,
        0,     0};
}

constexpr ParamRow Slider(PF_ParamIndex index, A_long id, const char* name, PF_FpShort valid_min,
                          PF_FpShort valid_max, PF_FpShort slider_min, PF_FpShort slider_max,
                          double dephault, A_short display_flags = PF_ValueDisplayFlag_NONE) {
    return {index,
            id,
            PF_Param_FLOAT_SLIDER,
            name,
            0,
            nullptr,
            0,
            dephault,
            valid_min,
            valid_max,
            slider_min,
            slider_max,
            2,
            display_flags};
}

constexpr ParamRow Angle(PF_ParamIndex index, A_long id, const char* name, double degrees) {
    return {index, id, PF_Param_ANGLE, name, 0, nullptr, 0, degrees, 0, 0, 0, 0, 0, 0};
}

constexpr ParamRow Button(PF_ParamIndex index, A_long id, const char* caption) {
    return {index, id, PF_Param_BUTTON, "", PF_ParamFlag_SUPERVISE, caption, 0, 0, 0, 0, 0, 0,
            0,     0};
}

constexpr A_short kPercent = PF_ValueDisplayFlag_PERCENT;

}  // namespace

// clang-format off
constexpr ParamRow kParamRows[kDeclaredParamCount] = {
    Layer(kParamMapLayer, 0, "Map Layer", PF_LayerDefault_NONE),
    Popup(kParamChannel, 1, "Channel", kChannelEntries, 8, kChannelLuminance),
    GroupStart(kParamMapAdjustmentsStart, 2, "Map Adjustments", PF_ParamFlag_START_COLLAPSED),
    Checkbox(kParamInvertMap, 3, "Invert Map", 0, "", false),
    Slider(kParamMapGamma, 4, "Map Gamma", 0, 10, 0, 2, 1),
    Slider(kParamMapSoftness, 5, "Map Softness", 0, 100, 0, 20, 0),
    Slider(kParamDisplacementOffset, 6, "Displacement Offset", -10, 10, -1, 1, 0),
    Popup(kParamDisplacementEasing, 36, "Displacement Easing", kEasingEntries, 5, kEasingNone),
    Button(kParamResetAdjustments, 42, "Reset Adjustments"),
    GroupEnd(kParamMapAdjustmentsEnd, 7),
    GroupStart(kParamTransformStart, 8, "Transform", 0),
    Slider(kParamTranslateX, 9, "Translate X", -1000, 1000, -100, 100, 0, kPercent),
    Slider(kParamTranslateY, 10, "Translate Y", -1000, 1000, -100, 100, 0, kPercent),
    Angle(kParamRotate, 11, "Rotate", 0),
    // Reversed on purpose: no name, the label sits beside the box.
    Checkbox(kParamUniformScale, 12, "", PF_ParamFlag_SUPERVISE | PF_ParamFlag_CANNOT_TIME_VARY,
             "Uniform Scale", true),
    Slider(kParamScaleX, 13, "Scale X", -1000, 1000, -100, 100, 100, kPercent),
    Slider(kParamScaleY, 14, "Scale Y", -1000, 1000, -100, 100, 100, kPercent),
    Slider(kParamAnchorX, 15, "Anchor X", -1000, 1000, -100, 100, 0, kPercent),
    Slider(kParamAnchorY, 16, "Anchor Y", -1000, 1000, -100, 100, 0, kPercent),
    Button(kParamResetTransforms, 40, "Reset Transforms"),
    GroupEnd(kParamTransformEnd, 17),
    GroupStart(kParamChromaticAberrationStart, 19, "Chromatic Aberration",
               PF_ParamFlag_START_COLLAPSED),
    // An empty group: it shows as a caption above the three multipliers.
    GroupStart(kParamTransformMultipliersStart, 20, "Transform Multipliers", 0),
    GroupEnd(kParamTransformMultipliersEnd, 21),
    Slider(kParamRedMultiplier, 22, "Red", -10, 10, -1.3f, 1.3f, 1),
    Slider(kParamGreenMultiplier, 23, "Green", -10, 10, -1.3f, 1.3f, 1),
    Slider(kParamBlueMultiplier, 24, "Blue", -10, 10, -1.3f, 1.3f, 1),
    Button(kParamResetMultipliers, 41, "Reset Multipliers"),
    GroupEnd(kParamChromaticAberrationEnd, 25),
    Popup(kParamEdgeBehavior, 18, "Edge Behavior", kEdgeBehaviorEntries, 5, kEdgeNone),
    Popup(kParamAntiAliasing, 37, "Anti-Aliasing", kAntiAliasingEntries, 4, kAntiAliasingNone),
    Popup(kParamView, 31, "View", kViewEntries, 2, kViewResult),
    GroupStart(kParamDebugStart, 38, "Debug", 0),
    Popup(kParamCachingBehavior, 26, "Caching Behavior", kCachingEntries, 2, 1),
    Slider(kParamDebugLeft, 27, "Left", -1000, 1000, 0, 5, 0),
    Slider(kParamDebugTop, 28, "Top", -1000, 1000, 0, 5, 0),
    Slider(kParamDebugRight, 29, "Right", -1000, 1000, 0, 5, 0),
    Slider(kParamDebugBottom, 30, "Bottom", -1000, 1000, 0, 5, 0),
    GroupEnd(kParamDebugEnd, 39),
};
// clang-format on

namespace {
constexpr bool RowsInPositionOrder() {
    for (int i = 0; i < kDeclaredParamCount; ++i) {
        if (kParamRows[i].index != i + 1) return false;
    }
    return true;
}
static_assert(RowsInPositionOrder(), "each row sits at the position it names");
}  // namespace

const ParamRow* FindParamRow(PF_ParamIndex index) {
    if (index < 1 || index >= kParamCount) return nullptr;
    return &kParamRows[index - 1];
}

void MakeParamDef(const ParamRow& row, const PF_InData* in_data, PF_ParamDef* def) {
    std::memset(def, 0, sizeof *def);
    def->param_type = row.type;
    if (row.name) in_data->utils->ansi.strcpy(def->name, row.name);
    def->flags = row.flags;
    def->uu.id = row.id;
    switch (row.type) {
        case PF_Param_LAYER:
            def->u.ld.dephault = A_long(row.dephault);
            break;
        case PF_Param_POPUP:
            def->u.pd.value = PF_ParamValue(row.dephault);
            def->u.pd.dephault = A_short(row.dephault);
            def->u.pd.num_choices = row.num_choices;
            def->u.pd.u.namesptr = row.text;
            break;
        case PF_Param_CHECKBOX:
            def->u.bd.value = PF_ParamValue(row.dephault);
            def->u.bd.dephault = PF_Boolean(row.dephault);
            def->u.bd.u.nameptr = row.text;
            break;
        case PF_Param_FLOAT_SLIDER:
            def->u.fs_d.value = row.dephault;
            def->u.fs_d.valid_min = row.valid_min;
            def->u.fs_d.valid_max = row.valid_max;
            def->u.fs_d.slider_min = row.slider_min;
            def->u.fs_d.slider_max = row.slider_max;
            def->u.fs_d.dephault = PF_FpShort(row.dephault);
            def->u.fs_d.precision = row.precision;
            def->u.fs_d.display_flags = row.display_flags;
            def->u.fs_d.fs_flags = 0;
            def->u.fs_d.curve_tolerance = kSliderCurveTolerance;
            break;
        case PF_Param_ANGLE: {
            // 16.16 fixed point degrees.
            const PF_Fixed fixed = PF_Fixed(std::lround(row.dephault * 65536.0));
            def->u.ad.value = fixed;
            def->u.ad.dephault = fixed;
            break;
        }
        case PF_Param_BUTTON:
            def->u.button_d.value = 0;
            def->u.button_d.u.namesptr = row.text;
            break;
        default:  // group markers carry nothing in the union
            break;
    }
}
