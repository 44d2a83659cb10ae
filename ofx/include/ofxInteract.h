// Interacts: overlays drawn over the host's viewer and custom parameter widgets. Each has an
// entry point of its own that receives the interact actions below.
#ifndef VEXO_OFX_INTERACT_H
#define VEXO_OFX_INTERACT_H

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxInteractSuite "OfxInteractSuite"

typedef struct OfxInteract* OfxInteractHandle;

typedef struct OfxInteractSuiteV1 {
    OfxStatus (*interactSwapBuffers)(OfxInteractHandle interactInstance);
    OfxStatus (*interactRedraw)(OfxInteractHandle interactInstance);
    OfxStatus (*interactGetPropertySet)(OfxInteractHandle interactInstance,
                                        OfxPropertySetHandle* property);
} OfxInteractSuiteV1;

#define kOfxInteractPropSlaveToParam "OfxInteractPropSlaveToParam"
#define kOfxInteractPropPixelScale "OfxInteractPropPixelScale"
#define kOfxInteractPropBackgroundColour "OfxInteractPropBackgroundColour"
#define kOfxInteractPropSuggestedColour "OfxInteractPropSuggestedColour"
#define kOfxInteractPropPenPosition "OfxInteractPropPenPosition"                  // canonical
#define kOfxInteractPropPenViewportPosition "OfxInteractPropPenViewportPosition"  // int x2
#define kOfxInteractPropPenPressure "OfxInteractPropPenPressure"
#define kOfxInteractPropBitDepth "OfxInteractPropBitDepth"
#define kOfxInteractPropHasAlpha "OfxInteractPropHasAlpha"

// The same strings as the effect's own actions, sent to the interact's entry point.
#define kOfxActionDescribeInteract "OfxActionDescribe"
#define kOfxActionCreateInstanceInteract "OfxActionCreateInstance"
#define kOfxActionDestroyInstanceInteract "OfxActionDestroyInstance"

#define kOfxInteractActionDraw "OfxInteractActionDraw"
#define kOfxInteractActionPenMotion "OfxInteractActionPenMotion"
#define kOfxInteractActionPenDown "OfxInteractActionPenDown"
#define kOfxInteractActionPenUp "OfxInteractActionPenUp"
#define kOfxInteractActionKeyDown "OfxInteractActionKeyDown"
#define kOfxInteractActionKeyUp "OfxInteractActionKeyUp"
#define kOfxInteractActionKeyRepeat "OfxInteractActionKeyRepeat"
#define kOfxInteractActionGainFocus "OfxInteractActionGainFocus"
#define kOfxInteractActionLoseFocus "OfxInteractActionLoseFocus"

#ifdef __cplusplus
}
#endif

#endif
