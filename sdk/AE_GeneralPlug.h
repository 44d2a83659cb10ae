// General (AEGP) suites of the host API that the effect calls, under the host SDK's own names.
// Entries before the ones the effect calls are kept so the slots line up with the host's tables.
#pragma once
#include "AE_Effect.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long AEGP_PluginID;
typedef A_long AEGP_DynStreamFlags;
typedef struct _AEGP_EffectRefH* AEGP_EffectRefH;
typedef struct _AEGP_StreamRefH* AEGP_StreamRefH;
typedef struct _AEGP_LayerH* AEGP_LayerH;
typedef A_long AEGP_StreamType;
typedef A_long AEGP_LayerStream;
typedef A_long AEGP_LTimeMode;

enum {
    AEGP_DynStreamFlag_ACTIVE_EYEBALL = 0,
    AEGP_DynStreamFlag_HIDDEN = 2,
    AEGP_DynStreamFlag_DISABLED = 4,
    AEGP_DynStreamFlag_ELIDED = 5,
    AEGP_DynStreamFlag_SHOWN_WHEN_EMPTY = 7,
    AEGP_DynStreamFlag_SKIP_REVEAL_WHEN_UNHIDDEN = 8
};

typedef struct {
    A_FpLong x, y, z, w;
} AEGP_FourDVal;
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

typedef void (*AEGP_UnusedEntry)(void);

#define kAEGPPFInterfaceSuite "AEGP PF Interface Suite"
#define kAEGPPFInterfaceSuiteVersion1 1
typedef struct AEGP_PFInterfaceSuite1 {
    A_Err (*AEGP_GetEffectLayer)(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH);
    A_Err (*AEGP_GetNewEffectForEffect)(AEGP_PluginID aegp_plugin_id, PF_ProgPtr effect_ref,
                                        AEGP_EffectRefH* effectPH);
    AEGP_UnusedEntry AEGP_ConvertEffectToCompTime;
    AEGP_UnusedEntry AEGP_GetEffectCamera;
    AEGP_UnusedEntry AEGP_GetEffectCameraMatrix;
} AEGP_PFInterfaceSuite1;

#define kAEGPUtilitySuite "AEGP Utility Suite"
#define kAEGPUtilitySuiteVersion7 7
typedef struct AEGP_UtilitySuite7 {
    A_Err (*AEGP_ReportInfo)(AEGP_PluginID aegp_plugin_id, const A_char* info_string);
    AEGP_UnusedEntry AEGP_ReportInfoUnicode;
    AEGP_UnusedEntry AEGP_GetDriverPluginInitFuncVersion;
    AEGP_UnusedEntry AEGP_GetDriverImplementationVersion;
    AEGP_UnusedEntry AEGP_StartQuietErrors;
    AEGP_UnusedEntry AEGP_EndQuietErrors;
    AEGP_UnusedEntry AEGP_GetLastErrorMessage;
    A_Err (*AEGP_StartUndoGroup)(const A_char* undo_name);
    A_Err (*AEGP_EndUndoGroup)(void);
} AEGP_UtilitySuite7;

#define kAEGPStreamSuite "AEGP Stream Suite"
#define kAEGPStreamSuiteVersion7 7
#define kAEGPStreamSuiteVersion9 9

#define VEXO_AEGP_STREAM_SUITE_ENTRIES                                                         \
    AEGP_UnusedEntry AEGP_IsStreamLegal;                                                      \
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH streamH, A_Boolean * can_varyPB);           \
    AEGP_UnusedEntry AEGP_GetValidInterpolations;                                             \
    AEGP_UnusedEntry AEGP_GetNewLayerStream;                                                  \
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH effect_refH, A_long * num_paramsPL); \
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id,                     \
                                            AEGP_EffectRefH effect_refH,                      \
                                            PF_ParamIndex param_index,                        \
                                            AEGP_StreamRefH * streamPH);                      \
    AEGP_UnusedEntry AEGP_GetNewMaskStream;                                                   \
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);                                     \
    AEGP_UnusedEntry AEGP_GetStreamName;                                                      \
    AEGP_UnusedEntry AEGP_GetStreamUnitsText;                                                 \
    AEGP_UnusedEntry AEGP_GetStreamProperties;                                                \
    AEGP_UnusedEntry AEGP_IsStreamTimevarying;                                                \
    AEGP_UnusedEntry AEGP_GetStreamType;                                                      \
    AEGP_UnusedEntry AEGP_GetNewStreamValue;                                                  \
    AEGP_UnusedEntry AEGP_DisposeStreamValue;                                                 \
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,        \
                                 AEGP_StreamValue2 * valueP);

typedef struct AEGP_StreamSuite7 {
    VEXO_AEGP_STREAM_SUITE_ENTRIES
} AEGP_StreamSuite7;
typedef struct AEGP_StreamSuite9 {
    VEXO_AEGP_STREAM_SUITE_ENTRIES
} AEGP_StreamSuite9;

#define kAEGPDynamicStreamSuite "AEGP Dynamic Stream Suite"
#define kAEGPDynamicStreamSuiteVersion2 2
typedef struct AEGP_DynamicStreamSuite2 {
    AEGP_UnusedEntry AEGP_GetNewStreamRefForLayer;
    AEGP_UnusedEntry AEGP_GetNewStreamRefForMask;
    AEGP_UnusedEntry AEGP_GetStreamDepth;
    AEGP_UnusedEntry AEGP_GetStreamGroupingType;
    AEGP_UnusedEntry AEGP_GetNumStreamsInGroup;
    A_Err (*AEGP_GetDynamicStreamFlags)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags* flagsP);
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                                       A_Boolean undoableB, A_Boolean setB);
} AEGP_DynamicStreamSuite2;

#define kAEGPEffectSuite "AEGP Effect Suite"
#define kAEGPEffectSuiteVersion2 2
#define kAEGPEffectSuiteVersion3 3

#define VEXO_AEGP_EFFECT_SUITE_ENTRIES          \
    AEGP_UnusedEntry AEGP_GetLayerNumEffects;  \
    AEGP_UnusedEntry AEGP_GetLayerEffectByIndex; \
    AEGP_UnusedEntry AEGP_GetInstalledKeyFromLayerEffect; \
    AEGP_UnusedEntry AEGP_GetEffectParamUnionByIndex; \
    AEGP_UnusedEntry AEGP_GetEffectFlags;      \
    AEGP_UnusedEntry AEGP_SetEffectFlags;      \
    AEGP_UnusedEntry AEGP_ReorderEffect;       \
    AEGP_UnusedEntry AEGP_EffectCallGeneric;   \
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);

typedef struct AEGP_EffectSuite2 {
    VEXO_AEGP_EFFECT_SUITE_ENTRIES
} AEGP_EffectSuite2;
typedef struct AEGP_EffectSuite3 {
    VEXO_AEGP_EFFECT_SUITE_ENTRIES
} AEGP_EffectSuite3;

#ifdef __cplusplus
}
#endif
