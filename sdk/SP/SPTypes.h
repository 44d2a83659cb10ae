// Types of the host's suite broker.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef int32_t SPErr;
typedef int32_t SPInt32;
// An int on Windows, an unsigned char elsewhere, as the host's headers have it.
#if defined(_WIN32)
typedef int SPBoolean;
#else
typedef unsigned char SPBoolean;
#endif
