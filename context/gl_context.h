// Off-screen OpenGL contexts: the only platform code of the module. One implementation per
// platform (EGL on Linux, WGL on Windows, CGL on macOS) behind the same five functions.
#pragma once

#if defined(__APPLE__)
#include <OpenGL/OpenGL.h>
#endif

// Opaque, pointer-sized; null is no context.
typedef void* GLContextHandle;

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__APPLE__)
// A null attribute list selects a 3.2 core profile with no further requirements.
GLContextHandle CreateContext(GLContextHandle share = nullptr,
                              const CGLPixelFormatAttribute* attributes = nullptr);
extern const char* const VEXOGLClassStrZ;
#else
GLContextHandle CreateContext(GLContextHandle share = nullptr);
#endif
void DeleteContext(GLContextHandle context);
void SetCurrentContext(GLContextHandle context);
GLContextHandle GetCurrentContext(void);
bool IsContextValid(GLContextHandle context);

#ifdef __cplusplus
}
#endif
