// A progress bar for long operations.
#ifndef VEXO_OFX_PROGRESS_H
#define VEXO_OFX_PROGRESS_H

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

// One name for both versions; they differ in progressStart alone.
#define kOfxProgressSuite "OfxProgressSuite"

typedef struct OfxProgressSuiteV1 {
    OfxStatus (*progressStart)(void* effectInstance, const char* label);
    OfxStatus (*progressUpdate)(void* effectInstance, double progress);  // progress in [0, 1]
    OfxStatus (*progressEnd)(void* effectInstance);
} OfxProgressSuiteV1;

typedef struct OfxProgressSuiteV2 {
    OfxStatus (*progressStart)(void* effectInstance, const char* message, const char* messageId);
    OfxStatus (*progressUpdate)(void* effectInstance, double progress);
    OfxStatus (*progressEnd)(void* effectInstance);
} OfxProgressSuiteV2;

#ifdef __cplusplus
}
#endif

#endif
