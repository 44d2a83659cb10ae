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
