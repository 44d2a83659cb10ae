// General memory from the host's pool, so that its cache and ours share one budget.
#ifndef VEXO_OFX_MEMORY_H
#define VEXO_OFX_MEMORY_H

#include "ofxCore.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxMemorySuite "OfxMemorySuite"

typedef struct OfxMemorySuiteV1 {
    OfxStatus (*memoryAlloc)(void* handle, size_t nBytes, void** allocatedData);
    OfxStatus (*memoryFree)(void* allocatedData);
} OfxMemorySuiteV1;

#ifdef __cplusplus
}
#endif

#endif
