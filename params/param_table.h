// The effect's controls: their positions and the one table they are declared from.
#pragma once
#include "AE_Effect.h"

// Positions of the controls. The host, the parameter interaction and the render address controls
// by position, so this order is the declaration order and never changes; projects recognise a
// control by its id, which is unrelated to its position.
enum ParamIndex : PF_ParamIndex {
    kParamInputLayer = 0,  // supplied by the host
    kParamMapLayer,
    kParamChannel,
    kParamMapAdjustmentsStart,
    kParamInvertMap,
    kParamMapGamma,
    kParamMapSoftness,
    kParamDisplacementOffset,
    kParamDisplacementEasing,
    kParamResetAdjustments,
    kParamMapAdjustmentsEnd,
    kParamTransformStart,
    kParamTranslateX,
    kParamTranslateY,
    kParamRotate,
    kParamUniformScale,
    kParamScaleX,
    kParamScaleY,
    kParamAnchorX,
    kParamAnchorY,
    kParamResetTransforms,
    kParamTransformEnd,
    kParamChromaticAberrationStart,
    kParamTransformMultipliersStart,
    kParamTransformMultipliersEnd,
    kParamRedMultiplier,
    kParamGreenMultiplier,
    kParamBlueMultiplier,
    kParamResetMultipliers,
    kParamChromaticAberrationEnd,
    kParamEdgeBehavior,
    kParamAntiAliasing,
    kParamView,
    kParamDebugStart,
    kParamCachingBehavior,
    kParamDebugLeft,
    kParamDebugTop,
    kParamDebugRight,
    kParamDebugBottom,
    kParamDebugEnd,
    kParamCount  // the input layer and every declared control: `num_params`
};

constexpr int kDeclaredParamCount = kParamCount - 1;

// Popup entries, "|"-separated; "(-" is a separator that takes a position but cannot be chosen.
constexpr const char* kChannelEntries = "Red|Green|Blue|Alpha|(-|Hue|Saturation|Luminance";
constexpr const char* kEasingEntries = "None|(-|Ease In|Ease Out|Ease In & Out";
constexpr const char* kEdgeBehaviorEntries = "None|(-|Repeat|Mirror Repeat|Edge Repeat";
constexpr const char* kAntiAliasingEntries = "None|(-|2x|4x";
constexpr const char* kViewEntries = "Map|Result";
constexpr const char* kCachingEntries = "Video|Still";

// Popup values the render tells apart.
enum ChannelValue {
    kChannelRed = 1,
    kChannelGreen,
    kChannelBlue,
    kChannelAlpha,
    kChannelHue = 6,
    kChannelSaturation,
    kChannelLuminance
};
enum EasingValue { kEasingNone = 1, kEasingIn = 3, kEasingOut, kEasingInOut };
enum EdgeValue { kEdgeNone = 1, kEdgeRepeat = 3, kEdgeMirrorRepeat, kEdgeEdgeRepeat };
enum AntiAliasingValue { kAntiAliasingNone = 1, kAntiAliasing2x = 3, kAntiAliasing4x };
enum ViewValue { kViewMap = 1, kViewResult };

// Every float slider takes the host's default curve tolerance.
constexpr PF_FpShort kSliderCurveTolerance = 0.05f;

// One declared control. Only the fields of the row's type are meaningful.
struct ParamRow {
    PF_ParamIndex index;
    A_long id;
    PF_ParamType type;
    const char* name;  // null: the name is left as zeroed (group ends get no name copy)
    PF_ParamFlags flags;
    const char* text;  // popup entries, the box text beside a checkbox, or a button's caption
    A_short num_choices;
    // In the stream's units: popup entry (1-based), checkbox 0/1, angle in degrees, slider value
    // as shown (percent sliders in percent), layer default.
    double dephault;
    PF_FpShort valid_min, valid_max;
    PF_FpShort slider_min, slider_max;
    A_short precision;
    A_short display_flags;
};

// The declared rows, positions 1 to kParamCount - 1 in order.
extern const ParamRow kParamRows[kDeclaredParamCount];

// The row declared at `index`, or null for the input layer and positions out of range.
const ParamRow* FindParamRow(PF_ParamIndex index);

// Fills `def` from the row, the name copied with the host's string copy. `def` is zeroed first.
void MakeParamDef(const ParamRow& row, const PF_InData* in_data, PF_ParamDef* def);
