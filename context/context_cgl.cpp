// Off-screen contexts on macOS: CGL with no drawable at all.
#include <GL/glew.h>

#include <OpenGL/OpenGL.h>

#include <cstdio>
#include <mutex>

#include "context/gl_context.h"
#include "gl/diagnostics.h"

// Exported for hosts that look for it; the macOS build has no window class of its own.
extern "C" const char* const VEXOGLClassStrZ = "VEXO_OpenGL_Win_Class";

namespace {

// As the framework's C code reads the list: ints. A profile value lies outside the attribute
// enumeration's range, which C++ does not let that enumeration hold.
const int attributes_default[] = {kCGLPFAOpenGLProfile, kCGLOGLPVersion_3_2_Core, 0};
static_assert(sizeof(CGLPixelFormatAttribute) == sizeof(int), "the framework reads ints");

// GLEW's entry points are process-wide pointers and the framework's functions are the same for
// every context, so they are loaded once, the first time one of our contexts is current.
void LoadEntryPointsOnce() {
    static std::mutex mutex;
    static bool loaded = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (loaded) return;
    const GLenum result = glewInit();
    // A GLEW built for GLX (the Linux one the tests build this file with) loads the GL entry
    // points and then reports that it found no X display; macOS's GLEW has no such step.
    if (result == GLEW_OK || result == GLEW_ERROR_NO_GLX_DISPLAY)
        loaded = true;
    else
        Diagnostic("%s", "Core Profile Glew isn't initialized.\n");
}

}  // namespace

extern "C" {

GLContextHandle CreateContext(GLContextHandle share, const CGLPixelFormatAttribute* attributes) {
    CGLPixelFormatObj pixel_format = nullptr;
    GLint virtual_screens = 0;
    const auto* chosen = attributes
                             ? attributes
                             : reinterpret_cast<const CGLPixelFormatAttribute*>(attributes_default);
    CGLError error = CGLChoosePixelFormat(chosen, &pixel_format, &virtual_screens);
    if (error != kCGLNoError) Diagnostic("%i - %s\n", virtual_screens, CGLErrorString(error));

    CGLContextObj context = nullptr;
    error = CGLCreateContext(pixel_format, static_cast<CGLContextObj>(share), &context);
    if (error != kCGLNoError) Diagnostic("%i - %s\n", virtual_screens, CGLErrorString(error));

    // The context keeps its own reference to the pixel format.
    if (pixel_format) CGLReleasePixelFormat(pixel_format);

    // The caller's reference; DeleteContext drops it before destroying the context.
    return context ? CGLRetainContext(context) : nullptr;
}

void DeleteContext(GLContextHandle handle) {
    if (!handle) return;
    CGLContextObj context = static_cast<CGLContextObj>(handle);
    CGLReleaseContext(context);
    const CGLError error = CGLDestroyContext(context);
    if (error != kCGLNoError) Diagnostic("Destroy CTX Failed-%s\n", CGLErrorString(error));
}

void SetCurrentContext(GLContextHandle handle) {
    const CGLError error = CGLSetCurrentContext(static_cast<CGLContextObj>(handle));
    if (error != kCGLNoError) {
        Diagnostic("Cannot Set CTX - %s\n", CGLErrorString(error));
        return;
    }
    if (handle) LoadEntryPointsOnce();
}

GLContextHandle GetCurrentContext(void) { return CGLGetCurrentContext(); }

bool IsContextValid(GLContextHandle handle) { return handle != nullptr; }

}  // extern "C"

bool IsContextCurrent(GLContextHandle context) {
    return context != nullptr && CGLGetCurrentContext() == static_cast<CGLContextObj>(context);
}
