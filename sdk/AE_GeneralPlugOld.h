// The older AEGP suite records. Their numbers are the SDK's own sequence, not the version a host
// is asked for: "AEGP Stream Suite" 9 is AEGP_StreamSuite4. Reached through AE_GeneralPlug.h only.
#pragma once
#ifndef VEXO_AE_GENERAL_PLUG_INCLUDING_OLD
#error "include AE_GeneralPlug.h, which includes AE_GeneralPlugOld.h"
#endif

#ifdef __cplusplus
extern "C" {
#endif

// The stream value the older stream suites take; AEGP_StreamValue2 has the same layout.
typedef union {
    AEGP_FourDVal four_d;
    AEGP_ThreeDVal three_d;
    AEGP_TwoDVal two_d;
    AEGP_OneDVal one_d;
    AEGP_ColorVal color;
} AEGP_StreamVal;

typedef struct {
    AEGP_StreamRefH streamH;
    AEGP_StreamVal val;
} AEGP_StreamValue;

#define kAEGPStreamSuiteVersion2 7
typedef struct AEGP_StreamSuite2 {
    void* reserved0[1];
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH streamH, A_Boolean* can_varyPB);
    void* reserved2[2];
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH effect_refH, A_long* num_paramsPL);
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id,
                                            AEGP_EffectRefH effect_refH, PF_ParamIndex param_index,
                                            AEGP_StreamRefH* streamPH);
    void* reserved6[1];
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    void* reserved8[7];
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                 AEGP_StreamValue* valueP);
    void* reserved16[6];
} AEGP_StreamSuite2;

#define kAEGPStreamSuiteVersion4 9
typedef struct AEGP_StreamSuite4 {
    void* reserved0[1];
    A_Err (*AEGP_CanVaryOverTime)(AEGP_StreamRefH streamH, A_Boolean* can_varyPB);
    void* reserved2[2];
    A_Err (*AEGP_GetEffectNumParamStreams)(AEGP_EffectRefH effect_refH, A_long* num_paramsPL);
    A_Err (*AEGP_GetNewEffectStreamByIndex)(AEGP_PluginID aegp_plugin_id,
                                            AEGP_EffectRefH effect_refH, PF_ParamIndex param_index,
                                            AEGP_StreamRefH* streamPH);
    void* reserved6[1];
    A_Err (*AEGP_DisposeStream)(AEGP_StreamRefH streamH);
    void* reserved8[7];
    A_Err (*AEGP_SetStreamValue)(AEGP_PluginID aegp_plugin_id, AEGP_StreamRefH streamH,
                                 AEGP_StreamValue2* valueP);
    void* reserved16[6];
} AEGP_StreamSuite4;

#define kAEGPDynamicStreamSuiteVersion2 2
typedef struct AEGP_DynamicStreamSuite2 {
    void* reserved0[4];
    A_Err (*AEGP_GetDynamicStreamFlags)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags* flagsP);
    A_Err (*AEGP_SetDynamicStreamFlag)(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                                       A_Boolean undoableB, A_Boolean setB);
    void* reserved6[11];
} AEGP_DynamicStreamSuite2;

#define kAEGPEffectSuiteVersion2 2
typedef struct AEGP_EffectSuite2 {
    void* reserved0[8];
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
    void* reserved9[8];
} AEGP_EffectSuite2;

#define kAEGPEffectSuiteVersion3 3
typedef struct AEGP_EffectSuite3 {
    void* reserved0[8];
    A_Err (*AEGP_DisposeEffect)(AEGP_EffectRefH effectH);
    void* reserved9[8];
} AEGP_EffectSuite3;

#define kAEGPUtilitySuiteVersion3 7
typedef struct AEGP_UtilitySuite3 {
    A_Err (*AEGP_ReportInfo)(AEGP_PluginID aegp_plugin_id, const A_char* info_string);
    void* reserved1[4];
    A_Err (*AEGP_StartUndoGroup)(const A_char* undo_name);
    A_Err (*AEGP_EndUndoGroup)(void);
    void* reserved7[18];
} AEGP_UtilitySuite3;

#ifdef __cplusplus
}
#endif
