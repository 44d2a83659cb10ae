// General (AEGP) interface of the host API that the effect calls, under the host SDK's own
// names. The older suite records follow from AE_GeneralPlugOld.h, which only this header includes.
#pragma once
#include "AE_Effect.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long AEGP_PluginID;
typedef A_u_long AEGP_DynStreamFlags;
// Opaque handles, under the tag names of the host's headers.
typedef struct _AEGP_Effect** AEGP_EffectRefH;
typedef struct _AEGPp_Stream** AEGP_StreamRefH;
typedef struct _AEGP_Layer** AEGP_LayerH;

enum {
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 0,
    AEGP_DynStreamFlag_HIDDEN = 2,
    AEGP_DynStreamFlag_DISABLED = 4,
    AEGP_DynStreamFlag_ELIDED = 5,
    AEGP_DynStreamFlag_SHOWN_WHEN_EMPTY = 7,
    AEGP_DynStreamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 8
};

// An array, so a stream value is copied whole, never by assigning this member.
typedef A_FpLong AEGP_FourDVal[4];
typedef struct {
    A_FpLong x, y, z;
} AEGP_ThreeDVal;
typedef struct {
    A_FpLong x, y;
} AEGP_TwoDVal;
typedef A_FpLong AEGP_OneDVal;
typedef struct {
    A_FpLong alphaF, redF, greenF, blueF;
} AEGP_ColorVal;

typedef union {
    AEGP_FourDVal four_d;
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
} AEGP_StreamVal2;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal2 val;
} AEGP_StreamValue2;

#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPUtilitySuite "AEGP Utility Suite"

#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1
typedef struct AEGP_PFInterfaceSuite1 {
    A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH);
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_ref,
                                        AEGP_EffectRefH* effectPH);
    void* reserved[3];
} AEGP_PFInterfaceSuite1;

#ifdef __cplusplus
}
#endif

#define VEXO_AE_GENERAL_PLUG_INCLUDING_OLD
#include "AE_GeneralPlugOld.h"
#undef VEXO_AE_GENERAL_PLUG_INCLUDING_OLD
