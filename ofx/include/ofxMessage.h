// Messages to the user: one-off, and (V2) persistent ones shown on the effect until cleared.
#ifndef VEXO_OFX_MESSAGE_H
#define VEXO_OFX_MESSAGE_H

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

// One name for both versions: fetch version 2 first, then fall back to 1.
#define kOfxMessageSuite "OfxMessageSuite"

#define kOfxMessageFatal "OfxMessageFatal"
#define kOfxMessageError "OfxMessageError"
#define kOfxMessageWarning "OfxMessageWarning"
#define kOfxMessageMessage "OfxMessageMessage"
#define kOfxMessageLog "OfxMessageLog"
#define kOfxMessageQuestion "OfxMessageQuestion"

// `format` is printf-like, so a message of user text is passed as ("%s", text).
typedef struct OfxMessageSuiteV1 {
    OfxStatus (*message)(void* handle, const char* messageType, const char* messageId,
                         const char* format, ...);
} OfxMessageSuiteV1;

typedef struct OfxMessageSuiteV2 {
    OfxStatus (*message)(void* handle, const char* messageType, const char* messageId,
                         const char* format, ...);
    OfxStatus (*setPersistentMessage)(void* handle, const char* messageType, const char* messageId,
                                      const char* format, ...);
    OfxStatus (*clearPersistentMessage)(void* handle);
} OfxMessageSuiteV2;

#ifdef __cplusplus
}
#endif

#endif
