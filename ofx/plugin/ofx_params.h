// The effect's controls as OpenFX parameters. Hosts store the plug-in's identifier, the
// parameter names and the choice options in users' projects: they are pinned here, once, and
// never change after a release. Everything else (types, order, groups, ranges, defaults) comes
// from the control table.
#pragma once
#include "ofxImageEffect.h"
#include "params/param_table.h"

constexpr const char* kOfxPluginIdentifier = "pro.vexorant.VexorantPro";

// One control as a parameter. Group ends and the map layer (which is the "Map" clip) have no row.
struct OfxParamRow {
    ParamIndex index;
    const char* name;     // the control's name in lowerCamelCase
    const char* options;  // choices: the popup entries' texts without separators, "|"-separated
};

// Sets properties of one set in order and keeps the first failure.
struct OfxPropertyWriter {
    const OfxPropertySuiteV1* props;
    OfxPropertySetHandle set;
    OfxStatus status = kOfxStatOK;
    void Keep(OfxStatus s) {
        if (status == kOfxStatOK && s != kOfxStatOK) status = s;
    }
    void String(const char* name, const char* value, int index = 0) {
        Keep(props->propSetString(set, name, index, value));
    }
    void Int(const char* name, int value, int index = 0) {
        Keep(props->propSetInt(set, name, index, value));
    }
    void Double(const char* name, double value, int index = 0) {
        Keep(props->propSetDouble(set, name, index, value));
    }
    // A rectangle as a double property of dimension 4: x1, y1, x2, y2.
    void Rect(const char* name, const OfxRectD& r) {
        const double values[4] = {r.x1, r.y1, r.x2, r.y2};
        Keep(props->propSetDoubleN(set, name, 4, values));
    }
};

extern const OfxParamRow kOfxParamRows[];
extern const int kOfxParamRowCount;

// The name a control is shown under: its own, or, for controls declared without one, the text
// beside the box or on the button.
const char* ControlLabel(const ParamRow& row);

// A choice's option (from 0) as the popup value the render reads (from 1, separators counted),
// and back; -1 / 0 where there is no such option.
int PopupValueOfOption(const ParamRow& row, int option);
int OptionOfPopupValue(const ParamRow& row, int popup_value);

// Defines every parameter in the parameter set of a descriptor in context.
OfxStatus DefineParams(const OfxPropertySuiteV1* props, const OfxParameterSuiteV1* params,
                       OfxParamSetHandle set);

// Reads every parameter's value at `time` into `defs` (indexed by control position, as the
// render reads them). `handles` is indexed by control position; null entries are left zeroed.
OfxStatus ReadParamsAt(const OfxParameterSuiteV1* params, OfxParamHandle const handles[],
                       double time, PF_ParamDef defs[]);
