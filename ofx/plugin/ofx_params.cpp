#include "ofx/plugin/ofx_params.h"

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "ofxParam.h"

// clang-format off
const OfxParamRow kOfxParamRows[] = {
    {kParamChannel, "channel", "Red|Green|Blue|Alpha|Hue|Saturation|Luminance"},
    {kParamMapAdjustmentsStart, "mapAdjustments", nullptr},
    {kParamInvertMap, "invertMap", nullptr},
    {kParamMapGamma, "mapGamma", nullptr},
    {kParamMapSoftness, "mapSoftness", nullptr},
    {kParamDisplacementOffset, "displacementOffset", nullptr},
    {kParamDisplacementEasing, "displacementEasing", "None|Ease In|Ease Out|Ease In & Out"},
    {kParamResetAdjustments, "resetAdjustments", nullptr},
    {kParamTransformStart, "transform", nullptr},
    {kParamTranslateX, "translateX", nullptr},
    {kParamTranslateY, "translateY", nullptr},
    {kParamRotate, "rotate", nullptr},
    {kParamUniformScale, "uniformScale", nullptr},
    {kParamScaleX, "scaleX", nullptr},
    {kParamScaleY, "scaleY", nullptr},
    {kParamAnchorX, "anchorX", nullptr},
    {kParamAnchorY, "anchorY", nullptr},
    {kParamResetTransforms, "resetTransforms", nullptr},
    {kParamChromaticAberrationStart, "chromaticAberration", nullptr},
    {kParamTransformMultipliersStart, "transformMultipliers", nullptr},
    {kParamRedMultiplier, "red", nullptr},
    {kParamGreenMultiplier, "green", nullptr},
    {kParamBlueMultiplier, "blue", nullptr},
    {kParamResetMultipliers, "resetMultipliers", nullptr},
    {kParamEdgeBehavior, "edgeBehavior", "None|Repeat|Mirror Repeat|Edge Repeat"},
    {kParamAntiAliasing, "antiAliasing", "None|2x|4x"},
    {kParamView, "view", "Map|Result"},
    {kParamDebugStart, "debug", nullptr},
    {kParamCachingBehavior, "cachingBehavior", "Video|Still"},
    {kParamDebugLeft, "left", nullptr},
    {kParamDebugTop, "top", nullptr},
    {kParamDebugRight, "right", nullptr},
    {kParamDebugBottom, "bottom", nullptr},
};
// clang-format on
const int kOfxParamRowCount = int(sizeof kOfxParamRows / sizeof kOfxParamRows[0]);

namespace {

// The popup's entries, separators included, in order.
std::vector<std::string> Entries(const char* text) {
    std::vector<std::string> entries(1);
    for (const char* c = text ? text : ""; *c; ++c) {
        if (*c == '|') {
            entries.emplace_back();
        } else {
            entries.back() += *c;
        }
    }
    return entries;
}

bool IsSeparator(const std::string& entry) { return entry.rfind("(-", 0) == 0; }

const OfxParamRow* OfxRowOf(PF_ParamIndex index) {
    for (const OfxParamRow& row : kOfxParamRows) {
        if (row.index == index) return &row;
    }
    return nullptr;
}

const char* OfxTypeOf(const ParamRow& row) {
    switch (row.type) {
        case PF_Param_FLOAT_SLIDER:
        case PF_Param_ANGLE:
            return kOfxParamTypeDouble;
        case PF_Param_POPUP:
            return kOfxParamTypeChoice;
        case PF_Param_CHECKBOX:
            return kOfxParamTypeBoolean;
        case PF_Param_BUTTON:
            return kOfxParamTypePushButton;
        case PF_Param_GROUP_START:
            return kOfxParamTypeGroup;
        default:
            return nullptr;
    }
}

}  // namespace

const char* ControlLabel(const ParamRow& row) {
    return row.name && *row.name ? row.name : (row.text ? row.text : "");
}

int PopupValueOfOption(const ParamRow& row, int option) {
    const std::vector<std::string> entries = Entries(row.text);
    int seen = 0;
    for (int i = 0; i < int(entries.size()); ++i) {
        if (IsSeparator(entries[std::size_t(i)])) continue;
        if (seen++ == option) return i + 1;
    }
    return 0;
}

int OptionOfPopupValue(const ParamRow& row, int popup_value) {
    const std::vector<std::string> entries = Entries(row.text);
    int option = 0;
    for (int i = 0; i < int(entries.size()); ++i) {
        if (IsSeparator(entries[std::size_t(i)])) continue;
        if (i + 1 == popup_value) return option;
        ++option;
    }
    return -1;
}

OfxStatus DefineParams(const OfxPropertySuiteV1* props, const OfxParameterSuiteV1* params,
                       OfxParamSetHandle set) {
    // Groups nest as the control table opens and closes them.
    std::vector<const OfxParamRow*> open_groups;
    bool in_debug = false;
    for (int index = kParamChannel; index < kParamCount; ++index) {
        const ParamRow& row = *FindParamRow(index);
        if (row.type == PF_Param_GROUP_END) {
            if (!open_groups.empty()) open_groups.pop_back();
            if (index == kParamDebugEnd) in_debug = false;
            continue;
        }
        const OfxParamRow* ofx = OfxRowOf(index);
        const char* type = OfxTypeOf(row);
        if (!ofx || !type) continue;
        OfxPropertySetHandle p = nullptr;
        const OfxStatus defined = params->paramDefine(set, type, ofx->name, &p);
        if (defined != kOfxStatOK) return defined;
        OfxPropertyWriter s{props, p};
        s.String(kOfxPropLabel, ControlLabel(row));
        if (!open_groups.empty()) s.String(kOfxParamPropParent, open_groups.back()->name);
        if (index == kParamDebugStart) in_debug = true;
        // The debug controls never show, whatever the project says.
        if (in_debug) s.Int(kOfxParamPropSecret, 1);
        switch (row.type) {
            case PF_Param_FLOAT_SLIDER:
                s.String(kOfxParamPropDoubleType, kOfxParamDoubleTypePlain);
                s.Double(kOfxParamPropDefault, row.dephault);
                s.Double(kOfxParamPropMin, row.valid_min);
                s.Double(kOfxParamPropMax, row.valid_max);
                s.Double(kOfxParamPropDisplayMin, row.slider_min);
                s.Double(kOfxParamPropDisplayMax, row.slider_max);
                s.Int(kOfxParamPropDigits, row.precision);
                if (row.display_flags & PF_ValueDisplayFlag_PERCENT) {
                    s.String(kOfxParamPropHint, "Percent");
                }
                break;
            case PF_Param_ANGLE:
                s.String(kOfxParamPropDoubleType, kOfxParamDoubleTypeAngle);
                s.Double(kOfxParamPropDefault, row.dephault);
                break;
            case PF_Param_POPUP: {
                const std::vector<std::string> options = Entries(ofx->options);
                for (int i = 0; i < int(options.size()); ++i) {
                    s.String(kOfxParamPropChoiceOption, options[std::size_t(i)].c_str(), i);
                }
                s.Int(kOfxParamPropDefault, OptionOfPopupValue(row, int(row.dephault)));
                break;
            }
            case PF_Param_CHECKBOX:
                s.Int(kOfxParamPropDefault, row.dephault != 0 ? 1 : 0);
                if (row.flags & PF_ParamFlag_CANNOT_TIME_VARY) s.Int(kOfxParamPropAnimates, 0);
                break;
            case PF_Param_GROUP_START:
                s.Int(kOfxParamPropGroupOpen, (row.flags & PF_ParamFlag_START_COLLAPSED) ? 0 : 1);
                open_groups.push_back(ofx);
                break;
            default:
                break;
        }
        if (s.status != kOfxStatOK) return s.status;
    }
    return kOfxStatOK;
}

OfxStatus ReadParamsAt(const OfxParameterSuiteV1* params, OfxParamHandle const handles[],
                       double time, PF_ParamDef defs[]) {
    std::memset(defs, 0, sizeof(PF_ParamDef) * kParamCount);
    for (int index = kParamChannel; index < kParamCount; ++index) {
        const ParamRow& row = *FindParamRow(index);
        PF_ParamDef& def = defs[index];
        def.param_type = row.type;
        OfxParamHandle h = handles[index];
        if (!h) continue;
        OfxStatus status = kOfxStatOK;
        switch (row.type) {
            case PF_Param_FLOAT_SLIDER: {
                double value = 0;
                status = params->paramGetValueAtTime(h, time, &value);
                def.u.fs_d.value = value;
                break;
            }
            case PF_Param_ANGLE: {
                double degrees = 0;
                status = params->paramGetValueAtTime(h, time, &degrees);
                // As the host hands the angle over: 16.16 fixed point degrees.
                def.u.ad.value = PF_Fixed(std::lround(degrees * 65536.0));
                break;
            }
            case PF_Param_POPUP: {
                int option = 0;
                status = params->paramGetValueAtTime(h, time, &option);
                def.u.pd.value = PopupValueOfOption(row, option);
                break;
            }
            case PF_Param_CHECKBOX: {
                int checked = 0;
                status = params->paramGetValueAtTime(h, time, &checked);
                def.u.bd.value = checked ? 1 : 0;
                break;
            }
            default:
                break;
        }
        if (status != kOfxStatOK) return status;
    }
    return kOfxStatOK;
}
