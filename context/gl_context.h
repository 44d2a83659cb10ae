// Off-screen OpenGL contexts: the only platform code of the module. One implementation per
// platform (EGL on Linux, WGL on Windows, CGL on macOS) behind the same five functions.
#pragma once

// The CGL implementation's declarations; the tests also build it elsewhere, over a stand-in.
#if defined(__APPLE__) && !defined(VEXO_CONTEXT_CGL)
#define VEXO_CONTEXT_CGL
#endif

#if defined(VEXO_CONTEXT_CGL)
// GLEW before the framework: GLEW stops at the framework's GL types, and any source may include
// this header ahead of the GL toolkit's.
#include <GL/glew.h>
#include <OpenGL/OpenGL.h>
#endif

#if defined(__APPLE__)
// The macOS module exports the context functions beside its entry point.
#define VEXO_CONTEXT_API __attribute__((visibility("default")))
#else
#define VEXO_CONTEXT_API
#endif

// Opaque, pointer-sized; null is no context.
typedef void* GLContextHandle;

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VEXO_CONTEXT_CGL)
// A null attribute list selects a 3.2 core profile with no further requirements.
VEXO_CONTEXT_API GLContextHandle CreateContext(GLContextHandle share = nullptr,
                                               const CGLPixelFormatAttribute* attributes = nullptr);
#else
VEXO_CONTEXT_API GLContextHandle CreateContext(GLContextHandle share = nullptr);
#endif
VEXO_CONTEXT_API void DeleteContext(GLContextHandle context);
VEXO_CONTEXT_API void SetCurrentContext(GLContextHandle context);
VEXO_CONTEXT_API GLContextHandle GetCurrentContext(void);
VEXO_CONTEXT_API bool IsContextValid(GLContextHandle context);

#if defined(VEXO_CONTEXT_CGL) || defined(_WIN32)
// "VEXO_OpenGL_Win_Class": the hidden window class of the Windows contexts.
VEXO_CONTEXT_API extern const char* const VEXOGLClassStrZ;
#endif

#ifdef __cplusplus
}
#endif

#ifdef __cplusplus
// Whether `context` is the calling thread's current context: SetCurrentContext can fail (the
// context current elsewhere, or a host's context of another API that GL will not set aside),
// and GL calls would then act on whatever is current instead.
bool IsContextCurrent(GLContextHandle context);
#endif

#if defined(__cplusplus) && defined(_WIN32)
// Deletes the context of a thread that has ended, from another thread, leaving the caller's
// current context as it is. The ended thread's window went with it.
void DeleteContextOfEndedThread(GLContextHandle context);
#endif

#if defined(__cplusplus) && !defined(_WIN32) && !defined(VEXO_CONTEXT_CGL)
// Test seam: later creations on the calling thread ask the platform for this version, so a test
// can make creation fail for real (an unattainable version). 0 restores the normal request.
void RequestContextVersionForTesting(int major, int minor);
#endif
