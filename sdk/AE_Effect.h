// Effect records, commands, flags and errors of the host API, under the host SDK's own names.
// Only what the effect and its standalone host use is declared by name; members nobody uses are
// reserved bytes, so every record has the host's size and offsets (layout.tsv).
#pragma once
#include "A.h"
#include "SP/SPBasic.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef A_long PF_Err;
typedef A_long PF_Fixed;  // 16.16 fixed point
typedef A_long PF_ParamValue;
typedef A_long PF_ParamIndex;
typedef A_long PF_ParamType;
typedef A_long PF_ParamFlags;
typedef A_long PF_ParamUIFlags;
typedef A_long PF_ChangeFlags;
typedef A_long PF_OutFlags;
typedef A_long PF_OutFlags2;
typedef A_long PF_InFlags;
typedef A_long PF_WorldFlags;
typedef A_long PF_ValueDisplayFlags;
typedef A_u_long PF_FSliderFlags;
typedef A_long PF_ChannelMask;
typedef A_long PF_Field;
typedef A_long PF_Quality;
typedef A_short PF_RenderOutputFlags;
typedef A_long PF_GPU_Framework;
typedef double PF_FpLong;
typedef float PF_FpShort;
// The host's headers take these from the platform: on Windows PF_Boolean is a plain char and a
// handle a void**; elsewhere an unsigned char and a char**. A handle is a pointer to the block's
// master pointer, so code must not rely on what it points to.
#if defined(_WIN32)
typedef char PF_Boolean;
typedef void** PF_Handle;
#else
typedef A_u_char PF_Boolean;
typedef char** PF_Handle;
#endif
typedef struct PF_ProgressInfo* PF_ProgPtr;

enum {
    PF_Err_NONE = 0,
    PF_Err_OUT_OF_MEMORY = 4,
    PF_Err_INTERNAL_STRUCT_DAMAGED = 512,
    PF_Err_INVALID_INDEX,
    PF_Err_UNRECOGNIZED_PARAM_TYPE,
    PF_Err_INVALID_CALLBACK,
    PF_Err_BAD_CALLBACK_PARAM,
    PF_Interrupt_CANCEL,
    PF_Err_CANNOT_PARSE_KEYFRAME_TEXT
};

enum {
    PF_Cmd_ABOUT = 0,
    PF_Cmd_GLOBAL_SETUP,
    PF_Cmd_UNUSED_0,
    PF_Cmd_GLOBAL_SETDOWN,
    PF_Cmd_PARAMS_SETUP,
    PF_Cmd_SEQUENCE_SETUP,
    PF_Cmd_SEQUENCE_RESETUP,
    PF_Cmd_SEQUENCE_FLATTEN,
    PF_Cmd_SEQUENCE_SETDOWN,
    PF_Cmd_DO_DIALOG,
    PF_Cmd_FRAME_SETUP,
    PF_Cmd_RENDER,
    PF_Cmd_FRAME_SETDOWN,
    PF_Cmd_USER_CHANGED_PARAM,
    PF_Cmd_UPDATE_PARAMS_UI,
    PF_Cmd_EVENT,
    PF_Cmd_GET_EXTERNAL_DEPENDENCIES,
    PF_Cmd_COMPLETELY_GENERAL,
    PF_Cmd_QUERY_DYNAMIC_FLAGS,
    PF_Cmd_AUDIO_RENDER,
    PF_Cmd_AUDIO_SETUP,
    PF_Cmd_AUDIO_SETDOWN,
    PF_Cmd_ARBITRARY_CALLBACK,
    PF_Cmd_SMART_PRE_RENDER,
    PF_Cmd_SMART_RENDER,
    PF_Cmd_RESERVED1,
    PF_Cmd_RESERVED2,
    PF_Cmd_RESERVED3,
    PF_Cmd_GET_FLATTENED_SEQUENCE_DATA,
    PF_Cmd_TRANSLATE_PARAMS_TO_PREFS,
    PF_Cmd_RESERVED4,
    PF_Cmd_SMART_RENDER_GPU,
    PF_Cmd_GPU_DEVICE_SETUP,
    PF_Cmd_GPU_DEVICE_SETDOWN,
    PF_Cmd_NUM_CMDS
};
typedef A_long PF_Cmd;

enum { PF_Stage_DEVELOP = 0, PF_Stage_ALPHA, PF_Stage_BETA, PF_Stage_RELEASE };

enum {
    PF_OutFlag_NONE = 0,
    PF_OutFlag_DISPLAY_ERROR_MESSAGE = 1L << 8,
    PF_OutFlag_DEEP_COLOR_AWARE = 1L << 25,
    PF_OutFlag_SEND_UPDATE_PARAMS_UI = 1L << 26
};

enum {
    PF_OutFlag2_NONE = 0,
    PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG = 1L << 3,
    PF_OutFlag2_SUPPORTS_SMART_RENDER = 1L << 10,
    PF_OutFlag2_FLOAT_COLOR_AWARE = 1L << 12,
    PF_OutFlag2_SUPPORTS_THREADED_RENDERING = 1L << 27
};

enum {
    PF_Param_RESERVED = -1,
    PF_Param_LAYER = 0,
    PF_Param_SLIDER,
    PF_Param_FIX_SLIDER,
    PF_Param_ANGLE,
    PF_Param_CHECKBOX,
    PF_Param_COLOR,
    PF_Param_POINT,
    PF_Param_POPUP,
    PF_Param_CUSTOM,
    PF_Param_NO_DATA,
    PF_Param_FLOAT_SLIDER,
    PF_Param_ARBITRARY_DATA,
    PF_Param_PATH,
    PF_Param_GROUP_START,
    PF_Param_GROUP_END,
    PF_Param_BUTTON,
    PF_Param_RESERVED2,
    PF_Param_RESERVED3,
    PF_Param_POINT_3D
};

enum {
    PF_ParamFlag_RESERVED1 = 1L << 0,
    PF_ParamFlag_CANNOT_TIME_VARY = 1L << 1,
    PF_ParamFlag_CANNOT_INTERP = 1L << 2,
    PF_ParamFlag_RESERVED2 = 1L << 3,
    PF_ParamFlag_RESERVED3 = 1L << 4,
    PF_ParamFlag_COLLAPSE_TWIRLY = 1L << 5,
    PF_ParamFlag_SUPERVISE = 1L << 6,
    PF_ParamFlag_START_COLLAPSED = PF_ParamFlag_COLLAPSE_TWIRLY
};

enum {
    PF_PUI_NONE = 0,
    PF_PUI_TOPIC = 1L << 0,
    PF_PUI_CONTROL = 1L << 1,
    PF_PUI_STD_CONTROL_ONLY = 1L << 2,
    PF_PUI_NO_ECW_UI = 1L << 3,
    PF_PUI_ECW_SEPARATOR = 1L << 4,
    PF_PUI_DISABLED = 1L << 5,
    PF_PUI_DONT_ERASE_TOPIC = 1L << 6,
    PF_PUI_DONT_ERASE_CONTROL = 1L << 7,
    PF_PUI_RADIO_BUTTON = 1L << 8,
    PF_PUI_INVISIBLE = 1L << 9
};

enum {
    PF_ValueDisplayFlag_NONE = 0,
    PF_ValueDisplayFlag_PERCENT = 1,
    PF_ValueDisplayFlag_PIXEL = 2
};

enum { PF_LayerDefault_MYSELF = -1, PF_LayerDefault_NONE = 0 };

enum {
    PF_MAX_EFFECT_PARAM_NAME_LEN = 31,
    PF_MAX_PARAM_DESCRIPTION_LEN = 31,
    PF_MAX_EFFECT_MSG_LEN = 255
};

typedef struct {
    A_long left, top, right, bottom;
} PF_LRect;
typedef PF_LRect PF_Rect;
typedef PF_Rect PF_UnionableRect;

typedef struct {
    A_long h, v;
} PF_Point;

typedef struct {
    A_long num;
    A_u_long den;
} PF_RationalScale;

typedef struct {
    A_u_char alpha, red, green, blue;
} PF_Pixel;
typedef PF_Pixel PF_Pixel8;

typedef struct {
    PF_FpShort alpha, red, green, blue;
} PF_PixelFloat, PF_Pixel32;

// Effects that handle 16- and 32-bit worlds define PF_DEEP_COLOR_AWARE and must cast to the
// pixel type of the world's depth.
#ifdef PF_DEEP_COLOR_AWARE
typedef struct _PF_PixelOpaque* PF_PixelPtr;
#else
typedef PF_Pixel* PF_PixelPtr;
#endif

// The host's image. A layer parameter's definition is one too, with `dephault` naming its default.
typedef struct PF_LayerDef {
    void* reserved0;
    void* reserved1;
    PF_WorldFlags world_flags;
    PF_PixelPtr data;
    A_long rowbytes;
    A_long width;
    A_long height;
    PF_UnionableRect extent_hint;
    void* platform_ref;
    A_long reserved_long1;
    void* reserved_long4;
    PF_RationalScale pix_aspect_ratio;
    void* reserved_long2;
    A_long origin_x;
    A_long origin_y;
    A_long reserved_long3;
    A_long dephault;
} PF_LayerDef;
typedef PF_LayerDef PF_EffectWorld;

typedef struct {
    PF_ParamValue value;
    A_short num_choices;
    A_short dephault;
    union {
        A_long id;
        const A_char* namesptr;
    } u;
} PF_PopupDef;

typedef struct {
    PF_ParamValue value;
    PF_Boolean dephault;
    A_char reserved;
    A_short reserved1;
    union {
        A_long id;
        const A_char* nameptr;
    } u;
} PF_CheckBoxDef;

typedef struct {
    PF_FpLong value;
    PF_FpLong phase;
    A_char value_desc[PF_MAX_PARAM_DESCRIPTION_LEN + 1];
    PF_FpShort valid_min, valid_max;
    PF_FpShort slider_min, slider_max;
    PF_FpShort dephault;
    A_short precision;
    A_short display_flags;
    PF_FSliderFlags fs_flags;
    PF_FpShort curve_tolerance;
    PF_Boolean useExponent;
    PF_FpShort exponent;
} PF_FloatSliderDef;

typedef struct {
    PF_Fixed value;
    PF_Fixed dephault;
    PF_Fixed valid_min, valid_max;
} PF_AngleDef;

typedef struct {
    PF_ParamValue value;
    union {
        A_long id;
        const A_char* namesptr;
    } u;
} PF_ButtonDef;

typedef union {
    PF_LayerDef ld;
    PF_AngleDef ad;
    PF_CheckBoxDef bd;
    PF_PopupDef pd;
    PF_FloatSliderDef fs_d;
    PF_ButtonDef button_d;
} PF_ParamDefUnion;

typedef struct PF_ParamDef {
    union {
        A_long id;
        PF_ChangeFlags change_flags;
    } uu;
    PF_ParamUIFlags ui_flags;
    A_short ui_width;
    A_short ui_height;
    PF_ParamType param_type;
    A_char name[PF_MAX_EFFECT_PARAM_NAME_LEN + 1];
    PF_ParamFlags flags;
    A_long unused;
    PF_ParamDefUnion u;
} PF_ParamDef, *PF_ParamDefPtr, **PF_ParamDefH;

typedef PF_ParamDef** PF_ParamList;

typedef struct {
    A_short major, minor;
} PF_SpecVersion;

// Callbacks of `in_data->inter`.
typedef struct {
    PF_Err (*checkout_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long what_time,
                             A_long time_step, A_u_long time_scale, PF_ParamDef* param);
    PF_Err (*checkin_param)(PF_ProgPtr effect_ref, PF_ParamDef* param);
    PF_Err (*add_param)(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def);
    PF_Err (*abort)(PF_ProgPtr effect_ref);
    PF_Err (*progress)(PF_ProgPtr effect_ref, A_long current, A_long total);
    void* reserved[17];
} PF_InteractCallbacks;

typedef A_short PF_SoundChannels;
typedef A_short PF_SoundFormat;
typedef A_short PF_SoundSampleSize;

typedef struct {
    PF_FpLong rateF;
    PF_SoundChannels num_channels;
    PF_SoundFormat format;
    PF_SoundSampleSize sample_size;
} PF_SoundFormatInfo;

typedef struct {
    PF_SoundFormatInfo fi;
    A_long num_samples;
    void* dataP;
} PF_SoundWorld;

struct _PF_UtilCallbacks;  // AE_EffectCB.h

typedef struct PF_InData {
    PF_InteractCallbacks inter;
    struct _PF_UtilCallbacks* utils;
    PF_ProgPtr effect_ref;
    PF_Quality quality;
    PF_SpecVersion version;
    A_long serial_num;
    A_long appl_id;
    A_long num_params;
    A_long reserved;
    A_long what_cpu;
    A_long what_fpu;
    A_long current_time;
    A_long time_step;
    A_long total_time;
    A_long local_time_step;
    A_u_long time_scale;
    PF_Field field;
    PF_Fixed shutter_angle;
    A_long width;
    A_long height;
    PF_Rect extent_hint;
    A_long output_origin_x;
    A_long output_origin_y;
    PF_RationalScale downsample_x;
    PF_RationalScale downsample_y;
    PF_RationalScale pixel_aspect_ratio;
    PF_InFlags in_flags;
    PF_Handle global_data;
    PF_Handle sequence_data;
    PF_Handle frame_data;
    A_long start_sampL;
    A_long dur_sampL;
    A_long total_sampL;
    PF_SoundWorld src_snd;
    SPBasicSuite* pica_basicP;
    A_long pre_effect_source_origin_x;
    A_long pre_effect_source_origin_y;
    PF_Fixed shutter_phase;
} PF_InData;

typedef struct {
    A_u_long my_version;
    A_char name[32];
    PF_Handle global_data;
    A_long num_params;
    PF_Handle sequence_data;
    A_long flat_sdata_size;
    PF_Handle frame_data;
    A_long width;
    A_long height;
    PF_Point origin;
    PF_OutFlags out_flags;
    A_char return_msg[PF_MAX_EFFECT_MSG_LEN + 1];
    A_long start_sampL;
    A_long dur_sampL;
    PF_SoundWorld dest_snd;
    PF_OutFlags2 out_flags2;
} PF_OutData;

typedef struct {
    PF_ParamIndex param_index;
} PF_UserChangedParamExtra;

// Smart render.
typedef struct {
    PF_LRect rect;
    PF_Field field;
    PF_ChannelMask channel_mask;
    PF_Boolean preserve_rgb_of_zero_alpha;
    A_char unused[3];
    A_long reserved[4];
} PF_RenderRequest;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_RationalScale par;
    PF_Boolean solid;
    PF_Boolean reservedB[3];
    A_long ref_width;
    A_long ref_height;
    A_long reserved[6];
} PF_CheckoutResult;

typedef void (*PF_DeletePreRenderDataFunc)(void* pre_render_data);

typedef struct {
    PF_RenderRequest output_request;
    A_short bitdepth;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_PreRenderInput;

typedef struct {
    PF_LRect result_rect;
    PF_LRect max_result_rect;
    PF_Boolean solid;
    PF_Boolean reserved;
    PF_RenderOutputFlags flags;
    void* pre_render_data;
    PF_DeletePreRenderDataFunc delete_pre_render_data_func;
} PF_PreRenderOutput;

typedef struct {
    PF_Err (*checkout_layer)(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_idL,
                             const PF_RenderRequest* req, A_long what_time, A_long time_step,
                             A_u_long time_scale, PF_CheckoutResult* checkout_result);
    PF_Err (*GuidMixInPtr)(PF_ProgPtr effect_ref, A_u_long buf_sizeLu, const void* buf);
} PF_PreRenderCallbacks;

typedef struct {
    PF_PreRenderInput* input;
    PF_PreRenderOutput* output;
    PF_PreRenderCallbacks* cb;
} PF_PreRenderExtra;

typedef struct {
    PF_RenderRequest output_request;
    A_short bitdepth;
    void* pre_render_data;
    const void* gpu_data;
    PF_GPU_Framework what_gpu;
    A_u_long device_index;
} PF_SmartRenderInput;

typedef struct {
    PF_Err (*checkout_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL,
                                    PF_EffectWorld** pixels);
    PF_Err (*checkin_layer_pixels)(PF_ProgPtr effect_ref, A_long checkout_idL);
    PF_Err (*checkout_output)(PF_ProgPtr effect_ref, PF_EffectWorld** output);
} PF_SmartRenderCallbacks;

typedef struct {
    PF_SmartRenderInput* input;
    PF_SmartRenderCallbacks* cb;
} PF_SmartRenderExtra;

#ifdef __cplusplus
}
#endif
