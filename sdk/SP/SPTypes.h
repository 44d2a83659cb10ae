// Types of the host's suite broker.
#pragma once
#include <stddef.h>
#include <stdint.h>

typedef int32_t SPErr;
typedef int32_t SPInt32;
typedef unsigned char SPBoolean;
