// Basic types of the host API, declared under the host SDK's own names.
#pragma once
#include <stdint.h>

typedef int32_t A_long;
typedef uint32_t A_u_long;
typedef int16_t A_short;
typedef uint16_t A_u_short;
typedef char A_char;
typedef uint8_t A_u_char;
typedef unsigned char A_Boolean;
typedef double A_FpLong;
typedef float A_FpShort;
typedef A_long A_Err;
typedef uint64_t A_u_longlong;
// Sizes of host memory handles.
typedef A_u_longlong A_HandleSize;

enum { A_Err_NONE = 0 };

typedef struct {
    A_long value;
    A_u_long scale;
} A_Time;

typedef struct {
    A_FpLong left, top, right, bottom;
} A_FloatRect;

typedef struct {
    A_FpLong x, y;
} A_FloatPoint;
