// The host's utility callbacks, reached through `in_data->utils`.
#pragma once
#include "AE_Effect.h"

#ifdef __cplusplus
extern "C" {
#endif

// The host's C-library entries, reached through `in_data->utils->ansi`.
typedef struct {
    A_FpLong (*atan)(A_FpLong);
    A_FpLong (*atan2)(A_FpLong y, A_FpLong x);
    A_FpLong (*ceil)(A_FpLong);
    A_FpLong (*cos)(A_FpLong);
    A_FpLong (*exp)(A_FpLong);
    A_FpLong (*fabs)(A_FpLong);
    A_FpLong (*floor)(A_FpLong);
    A_FpLong (*fmod)(A_FpLong x, A_FpLong y);
    A_FpLong (*hypot)(A_FpLong x, A_FpLong y);
    A_FpLong (*log)(A_FpLong);
    A_FpLong (*log10)(A_FpLong);
    A_FpLong (*pow)(A_FpLong x, A_FpLong y);
    A_FpLong (*sin)(A_FpLong);
    A_FpLong (*sqrt)(A_FpLong);
    A_FpLong (*tan)(A_FpLong);
    int (*sprintf)(A_char*, const A_char*, ...);
    A_char* (*strcpy)(A_char*, const A_char*);
    A_FpLong (*asin)(A_FpLong);
    A_FpLong (*acos)(A_FpLong);
    void* reserved[1];
} PF_ANSICallbacks;

typedef struct _PF_UtilCallbacks {
    void* reserved_sampling[9];
    PF_Err (*fill)(PF_ProgPtr effect_ref, const PF_Pixel* color, const PF_Rect* dst_rect,
                   PF_EffectWorld* world);
    void* reserved_worlds[16];
    PF_ANSICallbacks ansi;
    void* reserved_more[23];
} PF_UtilCallbacks;

#define PF_FILL(COLOR, RECT, DST) \
    (*in_data->utils->fill)(in_data->effect_ref, (COLOR), (RECT), (DST))

#ifdef __cplusplus
}
#endif
