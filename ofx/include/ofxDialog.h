// A modal dialog the plug-in asks for: the host answers with kOfxActionDialog on its UI thread.
#ifndef VEXO_OFX_DIALOG_H
#define VEXO_OFX_DIALOG_H

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxDialogSuite "OfxDialogSuite"
#define kOfxActionDialog "OfxActionDialog"

typedef struct OfxDialogSuiteV1 {
    OfxStatus (*RequestDialog)(void* user_data);  // user_data comes back in the action's inArgs
    OfxStatus (*NotifyRedrawPending)(void);
} OfxDialogSuiteV1;

#ifdef __cplusplus
}
#endif

#endif
