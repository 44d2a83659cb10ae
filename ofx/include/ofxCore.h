// The core of the OpenFX image-effect C API: handles, status codes, the host and plug-in records,
// the entry points a plug-in binary exports, and the actions every plug-in sees.
#ifndef VEXO_OFX_CORE_H
#define VEXO_OFX_CORE_H

#include <limits.h>
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

// A definition that includes this header is exported from a DLL without a .def file. Elsewhere
// nothing marks visibility: a build with -fvisibility=hidden must export the entry points itself.
#ifdef _WIN32
#define OfxExport extern __declspec(dllexport)
#else
#define OfxExport extern
#endif

// Opaque: the host defines it, a plug-in only passes it back.
typedef struct OfxPropertySetStruct* OfxPropertySetHandle;

typedef int OfxStatus;

// Frames, as a double: hosts may ask for fractional times.
typedef double OfxTime;

typedef struct OfxHost {
    OfxPropertySetHandle host;
    // Returns the suite or NULL when the host has no such suite at that version.
    const void* (*fetchSuite)(OfxPropertySetHandle host, const char* suiteName, int suiteVersion);
} OfxHost;

// A function type, not a pointer: OfxPlugin.mainEntry points to one.
typedef OfxStatus(OfxPluginEntryPoint)(const char* action, const void* handle,
                                       OfxPropertySetHandle inArgs, OfxPropertySetHandle outArgs);

typedef struct OfxPlugin {
    const char* pluginApi;  // kOfxImageEffectPluginApi
    int apiVersion;         // then 4 bytes of padding: pluginIdentifier sits at 16
    const char* pluginIdentifier;
    unsigned int pluginVersionMajor;
    unsigned int pluginVersionMinor;
    // Returns nothing and takes a non-const host, unlike the exported OfxSetHost.
    void (*setHost)(OfxHost* host);
    OfxPluginEntryPoint* mainEntry;
} OfxPlugin;

// The exported entry points, with C linkage. OfxSetHost is optional: when a binary has it, the
// host calls it first, and kOfxStatFailed asks the host to skip the binary quietly.
OfxExport OfxStatus OfxSetHost(const OfxHost* host);
OfxExport int OfxGetNumberOfPlugins(void);
OfxExport OfxPlugin* OfxGetPlugin(int nth);  // nth from 0

// Actions every plug-in sees; anything it does not handle returns kOfxStatReplyDefault.
#define kOfxActionLoad "OfxActionLoad"
#define kOfxActionDescribe "OfxActionDescribe"
#define kOfxActionUnload "OfxActionUnload"
#define kOfxActionPurgeCaches "OfxActionPurgeCaches"
#define kOfxActionSyncPrivateData "OfxActionSyncPrivateData"
#define kOfxActionCreateInstance "OfxActionCreateInstance"
#define kOfxActionDestroyInstance "OfxActionDestroyInstance"
#define kOfxActionInstanceChanged "OfxActionInstanceChanged"
#define kOfxActionBeginInstanceChanged "OfxActionBeginInstanceChanged"
#define kOfxActionEndInstanceChanged "OfxActionEndInstanceChanged"
#define kOfxActionBeginInstanceEdit "OfxActionBeginInstanceEdit"
#define kOfxActionEndInstanceEdit "OfxActionEndInstanceEdit"

// Properties common to every object.
#define kOfxPropAPIVersion "OfxPropAPIVersion"  // int, dimension N (major, minor, ...)
#define kOfxPropTime "OfxPropTime"
#define kOfxPropIsInteractive "OfxPropIsInteractive"
#define kOfxPluginPropFilePath "OfxPluginPropFilePath"
#define kOfxPropInstanceData "OfxPropInstanceData"  // pointer
#define kOfxPropType "OfxPropType"
#define kOfxPropName "OfxPropName"
#define kOfxPropVersion "OfxPropVersion"  // int, dimension N
#define kOfxPropVersionLabel "OfxPropVersionLabel"
#define kOfxPropPluginDescription "OfxPropPluginDescription"
#define kOfxPropLabel "OfxPropLabel"
#define kOfxPropIcon "OfxPropIcon"  // string x2, paths relative to the bundle's Resources
#define kOfxPropShortLabel "OfxPropShortLabel"
#define kOfxPropLongLabel "OfxPropLongLabel"
#define kOfxPropChangeReason "OfxPropChangeReason"
#define kOfxPropEffectInstance "OfxPropEffectInstance"  // pointer
#define kOfxPropHostOSHandle "OfxPropHostOSHandle"      // pointer

// Values of kOfxPropChangeReason.
#define kOfxChangeUserEdited "OfxChangeUserEdited"
#define kOfxChangePluginEdited "OfxChangePluginEdited"
#define kOfxChangeTime "OfxChangeTime"

// Unbounded ends of integer ranges; both are int.
#define kOfxFlagInfiniteMax INT_MAX
#define kOfxFlagInfiniteMin INT_MIN

#define kOfxBitDepthNone "OfxBitDepthNone"
#define kOfxBitDepthByte "OfxBitDepthByte"
#define kOfxBitDepthShort "OfxBitDepthShort"
#define kOfxBitDepthHalf "OfxBitDepthHalf"
#define kOfxBitDepthFloat "OfxBitDepthFloat"

typedef struct OfxRangeI {
    int min, max;
} OfxRangeI;

typedef struct OfxRangeD {
    double min, max;
} OfxRangeD;

typedef struct OfxPointI {
    int x, y;
} OfxPointI;

typedef struct OfxPointD {
    double x, y;
} OfxPointD;

// x2 and y2 are exclusive.
typedef struct OfxRectI {
    int x1, y1, x2, y2;
} OfxRectI;

typedef struct OfxRectD {
    double x1, y1, x2, y2;
} OfxRectD;

// Status codes. The image-effect and GPU headers add theirs from 1000.
#define kOfxStatOK 0
#define kOfxStatFailed 1
#define kOfxStatErrFatal 2
#define kOfxStatErrUnknown 3
#define kOfxStatErrMissingHostFeature 4
#define kOfxStatErrUnsupported 5
#define kOfxStatErrExists 6
#define kOfxStatErrFormat 7
#define kOfxStatErrMemory 8
#define kOfxStatErrBadHandle 9
#define kOfxStatErrBadIndex 10
#define kOfxStatErrValue 11
#define kOfxStatReplyYes 12
#define kOfxStatReplyNo 13
#define kOfxStatReplyDefault 14
#define kOfxStatUnlicensed 15

#ifdef __cplusplus
}
#endif

#endif
