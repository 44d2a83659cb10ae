// What the probe plug-in does, chosen by its integer parameter "mode": behave, or break one rule.
#ifndef VEXO_OFX_TESTS_PROBE_MODES_H
#define VEXO_OFX_TESTS_PROBE_MODES_H

enum ProbeMode : int {
    kProbeGood,
    kProbeIdentity,              // answers is-identity with Source
    kProbeFetchBeyondRoi,        // asks for more of Source than its regions of interest said
    kProbeLeakImage,             // never releases Source
    kProbeReleaseTwice,          // releases Source twice
    kProbeWrongPropertyType,     // reads the int row bytes as a double
    kProbeIndexBeyondDimension,  // reads index 4 of the 4 bounds
    kProbeImageOutsideRender,    // fetches Source in the region-of-definition action
    kProbeSetParamInRender,      // sets "mode" while rendering
    kProbeDefineParamLate,       // defines a parameter in create instance
    kProbeDefineClipLate,        // defines a clip in create instance
    kProbeWriteOutsideImage,     // writes the pixel after the last of a row
    kProbeWriteOutsideWindow,    // writes the pixel left of the render window
    kProbeIntOnDoubleParam,      // sets the double parameter's maximum as an int
    kProbeWriteSource,           // clears a pixel of Source
};

#endif
