// The host's basic suite: every other suite is acquired and released through it.
#pragma once
#include "SPTypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct SPBasicSuite {
    SPErr (*AcquireSuite)(const char* name, SPInt32 version, const void** suite);
    SPErr (*ReleaseSuite)(const char* name, SPInt32 version);
    SPBoolean (*IsEqual)(const char* token1, const char* token2);
    SPErr (*AllocateBlock)(size_t size, void** block);
    SPErr (*FreeBlock)(void* block);
    SPErr (*ReallocateBlock)(void* block, size_t newSize, void** newblock);
    SPErr (*Undefined)(void);
} SPBasicSuite;

#ifdef __cplusplus
}
#endif
