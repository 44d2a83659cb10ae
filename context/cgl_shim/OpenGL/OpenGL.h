// CGL as the OpenGL framework declares it, for building the macOS module's sources where macOS is
// not: the names, types and values of <OpenGL/OpenGL.h> that our code and its tests use, nothing
// more, with the framework's include guard on the GL types (OpenGL/gltypes.h). The Linux build
// compiles every source of the macOS module against it; a Mac build gets the framework's header.
// The calls are implemented over EGL by tests/support/cgl/cgl_egl.cpp.
#pragma once

#include <OpenGL/gltypes.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _CGLContextObject* CGLContextObj;
typedef struct _CGLPixelFormatObject* CGLPixelFormatObj;

// No fixed underlying type, as in the framework: an attribute list's values (a profile is
// 0x3200) enter it only by an explicit conversion, never by brace initialisation.
typedef enum _CGLPixelFormatAttribute {
    kCGLPFAAllRenderers = 1,
    kCGLPFADoubleBuffer = 5,
    kCGLPFAColorSize = 8,
    kCGLPFAAlphaSize = 11,
    kCGLPFADepthSize = 12,
    kCGLPFAStencilSize = 13,
    kCGLPFASampleBuffers = 55,
    kCGLPFASamples = 56,
    kCGLPFANoRecovery = 72,
    kCGLPFAAccelerated = 73,
    kCGLPFAAllowOfflineRenderers = 96,
    kCGLPFAOpenGLProfile = 99,
} CGLPixelFormatAttribute;

typedef enum _CGLOpenGLProfile {
    kCGLOGLPVersion_Legacy = 0x1000,
    kCGLOGLPVersion_3_2_Core = 0x3200,
    kCGLOGLPVersion_GL3_Core = 0x3200,
    kCGLOGLPVersion_GL4_Core = 0x4100,
} CGLOpenGLProfile;

typedef enum _CGLError {
    kCGLNoError = 0,
    kCGLBadAttribute = 10000,
    kCGLBadProperty = 10001,
    kCGLBadPixelFormat = 10002,
    kCGLBadRendererInfo = 10003,
    kCGLBadContext = 10004,
    kCGLBadDrawable = 10005,
    kCGLBadDisplay = 10006,
    kCGLBadState = 10007,
    kCGLBadValue = 10008,
    kCGLBadMatch = 10009,
    kCGLBadEnumeration = 10010,
    kCGLBadOffScreen = 10011,
    kCGLBadFullScreen = 10012,
    kCGLBadWindow = 10013,
    kCGLBadAddress = 10014,
    kCGLBadCodeModule = 10015,
    kCGLBadAlloc = 10016,
    kCGLBadConnection = 10017,
} CGLError;

CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix,
                              GLint* npix);
CGLPixelFormatObj CGLRetainPixelFormat(CGLPixelFormatObj pix);
void CGLReleasePixelFormat(CGLPixelFormatObj pix);
GLuint CGLGetPixelFormatRetainCount(CGLPixelFormatObj pix);
CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix);

CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx);
CGLContextObj CGLRetainContext(CGLContextObj ctx);
void CGLReleaseContext(CGLContextObj ctx);
GLuint CGLGetContextRetainCount(CGLContextObj ctx);
CGLError CGLDestroyContext(CGLContextObj ctx);

CGLError CGLSetCurrentContext(CGLContextObj ctx);
CGLContextObj CGLGetCurrentContext(void);

const char* CGLErrorString(CGLError error);

#ifdef __cplusplus
}
#endif
