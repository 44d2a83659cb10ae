// The CGL calls of <OpenGL/OpenGL.h> over Mesa's EGL, so that context/context_cgl.cpp builds and
// runs in the tests here. Reference counting, the current context per thread and the error codes
// follow the framework; pixel formats are EGL configs, contexts EGL contexts with no surface (or
// a 1x1 pbuffer where the display cannot do without one). Test-only: no module links this.
#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstring>
#include <mutex>
#include <set>
#include <vector>

#include "tests/support/cgl/cgl_context.h"

struct _CGLPixelFormatObject {
    GLuint references;
    EGLConfig config;
    EGLint major;
    EGLint minor;
    bool core;
};

struct _CGLContextObject {
    GLuint references;
    CGLPixelFormatObj format;  // retained for the context's life, as the framework does
    EGLContext context;
    EGLSurface surface;
};

namespace {

struct Display {
    EGLDisplay display = EGL_NO_DISPLAY;
    bool needs_pbuffer = false;
};

bool HasExtension(const char* list, const char* name) {
    if (!list) return false;
    const std::size_t length = std::strlen(name);
    for (const char* at = list; (at = std::strstr(at, name)) != nullptr; at += length) {
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
    }
    return false;
}

// The same display the EGL contexts use (EGL hands out one per platform and device); never
// terminated, for the reasons context_egl.cpp gives.
const Display& TheDisplay() {
    static const Display state = [] {
        Display s;
        if (HasExtension(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS),
                         "EGL_MESA_platform_surfaceless")) {
            EGLDisplay d =
                eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
            if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) {
                s.display = d;
                s.needs_pbuffer =
                    !HasExtension(eglQueryString(d, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
                return s;
            }
        }
        EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
        if (d != EGL_NO_DISPLAY && eglInitialize(d, nullptr, nullptr)) {
            s.display = d;
            s.needs_pbuffer = true;
        }
        return s;
    }();
    return state;
}

// Every object handed out and not yet freed. A call with anything else gets the framework's
// error code instead of touching freed memory, which is what lets a test see a double release.
std::mutex& Lock() {
    static std::mutex mutex;
    return mutex;
}
std::set<CGLContextObj>& Contexts() {
    static std::set<CGLContextObj> contexts;
    return contexts;
}
std::set<CGLPixelFormatObj>& Formats() {
    static std::set<CGLPixelFormatObj> formats;
    return formats;
}

thread_local CGLContextObj t_current = nullptr;

bool Live(CGLContextObj ctx) { return ctx && Contexts().count(ctx) != 0; }
bool Live(CGLPixelFormatObj pix) { return pix && Formats().count(pix) != 0; }

void ReleaseFormatLocked(CGLPixelFormatObj pix) {
    if (!Live(pix) || --pix->references != 0) return;
    Formats().erase(pix);
    delete pix;
}

void ReleaseContextLocked(CGLContextObj ctx) {
    if (--ctx->references != 0) return;
    const EGLDisplay display = TheDisplay().display;
    // The framework leaves a thread whose current context goes with no current context.
    if (t_current == ctx) {
        if (eglGetCurrentContext() == ctx->context)
            eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        t_current = nullptr;
    }
    eglDestroyContext(display, ctx->context);
    if (ctx->surface != EGL_NO_SURFACE) eglDestroySurface(display, ctx->surface);
    ReleaseFormatLocked(ctx->format);
    Contexts().erase(ctx);
    delete ctx;
}

CGLError FromEglError(EGLint error) {
    switch (error) {
        case EGL_BAD_MATCH:
            return kCGLBadMatch;
        case EGL_BAD_CONTEXT:
            return kCGLBadContext;
        case EGL_BAD_ALLOC:
            return kCGLBadAlloc;
        default:
            return kCGLBadPixelFormat;
    }
}

}  // namespace

extern "C" {

CGLError CGLChoosePixelFormat(const CGLPixelFormatAttribute* attribs, CGLPixelFormatObj* pix,
                              GLint* npix) {
    if (!pix || !npix) return kCGLBadAddress;
    *pix = nullptr;
    *npix = 0;
    if (!attribs) return kCGLBadAddress;

    const Display& d = TheDisplay();
    if (d.display == EGL_NO_DISPLAY) return kCGLBadDisplay;

    // Without a profile the framework gives a legacy (2.1) context.
    EGLint major = 2, minor = 1;
    bool core = false;
    std::vector<EGLint> config{EGL_SURFACE_TYPE, d.needs_pbuffer ? EGL_PBUFFER_BIT : 0,
                               EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT};
    // The framework's C code reads the list as ints: a profile value lies outside the attribute
    // enumeration's range, and C++ may not load it as that enumeration.
    const auto at = [attribs](std::size_t i) {
        int value = 0;
        std::memcpy(&value, attribs + i, sizeof value);
        return value;
    };
    for (std::size_t i = 0; at(i) != 0; ++i) {
        switch (at(i)) {
            case kCGLPFAOpenGLProfile:
                switch (at(++i)) {
                    case kCGLOGLPVersion_Legacy:
                        major = 2, minor = 1, core = false;
                        break;
                    case kCGLOGLPVersion_3_2_Core:
                        major = 3, minor = 2, core = true;
                        break;
                    case kCGLOGLPVersion_GL4_Core:
                        major = 4, minor = 1, core = true;
                        break;
                    default:
                        return kCGLBadValue;
                }
                break;
            // The framework counts colour bits without alpha, EGL's buffer size with it: asking
            // EGL for at least as many keeps every request the framework could grant.
            case kCGLPFAColorSize:
                config.insert(config.end(), {EGL_BUFFER_SIZE, EGLint(at(++i))});
                break;
            case kCGLPFAAlphaSize:
                config.insert(config.end(), {EGL_ALPHA_SIZE, EGLint(at(++i))});
                break;
            case kCGLPFADepthSize:
                config.insert(config.end(), {EGL_DEPTH_SIZE, EGLint(at(++i))});
                break;
            case kCGLPFAStencilSize:
                config.insert(config.end(), {EGL_STENCIL_SIZE, EGLint(at(++i))});
                break;
            case kCGLPFASampleBuffers:
                config.insert(config.end(), {EGL_SAMPLE_BUFFERS, EGLint(at(++i))});
                break;
            case kCGLPFASamples:
                config.insert(config.end(), {EGL_SAMPLES, EGLint(at(++i))});
                break;
            // Renderer choices with no meaning for one software renderer and no drawable.
            case kCGLPFAAllRenderers:
            case kCGLPFADoubleBuffer:
            case kCGLPFANoRecovery:
            case kCGLPFAAccelerated:
            case kCGLPFAAllowOfflineRenderers:
                break;
            default:
                return kCGLBadAttribute;
        }
    }
    config.push_back(EGL_NONE);

    EGLConfig chosen = nullptr;
    EGLint count = 0;
    if (!eglChooseConfig(d.display, config.data(), &chosen, 1, &count) || count < 1)
        return kCGLBadPixelFormat;

    std::lock_guard<std::mutex> lock(Lock());
    *pix = new _CGLPixelFormatObject{1, chosen, major, minor, core};
    Formats().insert(*pix);
    *npix = 1;  // one virtual screen: the one renderer
    return kCGLNoError;
}

CGLPixelFormatObj CGLRetainPixelFormat(CGLPixelFormatObj pix) {
    std::lock_guard<std::mutex> lock(Lock());
    if (Live(pix)) ++pix->references;
    return pix;
}

void CGLReleasePixelFormat(CGLPixelFormatObj pix) {
    std::lock_guard<std::mutex> lock(Lock());
    ReleaseFormatLocked(pix);
}

GLuint CGLGetPixelFormatRetainCount(CGLPixelFormatObj pix) {
    std::lock_guard<std::mutex> lock(Lock());
    return Live(pix) ? pix->references : 0;
}

CGLError CGLDestroyPixelFormat(CGLPixelFormatObj pix) {
    std::lock_guard<std::mutex> lock(Lock());
    if (!Live(pix)) return kCGLBadPixelFormat;
    ReleaseFormatLocked(pix);
    return kCGLNoError;
}

CGLError CGLCreateContext(CGLPixelFormatObj pix, CGLContextObj share, CGLContextObj* ctx) {
    if (!ctx) return kCGLBadAddress;
    *ctx = nullptr;
    std::lock_guard<std::mutex> lock(Lock());
    if (!Live(pix)) return kCGLBadPixelFormat;
    if (share && !Live(share)) return kCGLBadContext;

    const Display& d = TheDisplay();
    if (!eglBindAPI(EGL_OPENGL_API)) return kCGLBadContext;
    const EGLint attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                 pix->major,
                                 EGL_CONTEXT_MINOR_VERSION,
                                 pix->minor,
                                 EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                 pix->core ? EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT
                                           : EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                 EGL_NONE};
    const EGLContext context = eglCreateContext(
        d.display, pix->config, share ? share->context : EGL_NO_CONTEXT, attributes);
    if (context == EGL_NO_CONTEXT) return FromEglError(eglGetError());

    EGLSurface surface = EGL_NO_SURFACE;
    if (d.needs_pbuffer) {
        const EGLint size[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        surface = eglCreatePbufferSurface(d.display, pix->config, size);
        if (surface == EGL_NO_SURFACE) {
            eglDestroyContext(d.display, context);
            return kCGLBadAlloc;
        }
    }
    ++pix->references;
    *ctx = new _CGLContextObject{1, pix, context, surface};
    Contexts().insert(*ctx);
    return kCGLNoError;
}

CGLContextObj CGLRetainContext(CGLContextObj ctx) {
    std::lock_guard<std::mutex> lock(Lock());
    if (Live(ctx)) ++ctx->references;
    return ctx;
}

void CGLReleaseContext(CGLContextObj ctx) {
    std::lock_guard<std::mutex> lock(Lock());
    if (Live(ctx)) ReleaseContextLocked(ctx);
}

GLuint CGLGetContextRetainCount(CGLContextObj ctx) {
    std::lock_guard<std::mutex> lock(Lock());
    return Live(ctx) ? ctx->references : 0;
}

// Since contexts are reference counted, destroying one is releasing it.
CGLError CGLDestroyContext(CGLContextObj ctx) {
    std::lock_guard<std::mutex> lock(Lock());
    if (!Live(ctx)) return kCGLBadContext;
    ReleaseContextLocked(ctx);
    return kCGLNoError;
}

CGLError CGLSetCurrentContext(CGLContextObj ctx) {
    std::lock_guard<std::mutex> lock(Lock());
    // A thread with nothing of ours current is left alone, EGL included.
    if (!ctx) {
        if (Live(t_current) && eglGetCurrentContext() == t_current->context)
            eglMakeCurrent(TheDisplay().display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
        t_current = nullptr;
        return kCGLNoError;
    }
    if (!Live(ctx)) return kCGLBadContext;
    eglBindAPI(EGL_OPENGL_API);
    // EGL refuses a context current on another thread, where the framework would allow it.
    if (!eglMakeCurrent(TheDisplay().display, ctx->surface, ctx->surface, ctx->context))
        return kCGLBadContext;
    t_current = ctx;
    return kCGLNoError;
}

// What EGL has current on the thread decides: a context made current behind CGL's back (the
// EGL contexts of the same tests) means no CGL context is.
CGLContextObj CGLGetCurrentContext(void) {
    std::lock_guard<std::mutex> lock(Lock());
    if (!Live(t_current) || eglGetCurrentContext() != t_current->context) return nullptr;
    return t_current;
}

const char* CGLErrorString(CGLError error) {
    switch (error) {
        case kCGLNoError:
            return "no error";
        case kCGLBadAttribute:
            return "invalid pixel format attribute";
        case kCGLBadProperty:
            return "invalid renderer property";
        case kCGLBadPixelFormat:
            return "invalid pixel format";
        case kCGLBadRendererInfo:
            return "invalid renderer info";
        case kCGLBadContext:
            return "invalid context";
        case kCGLBadDrawable:
            return "invalid drawable";
        case kCGLBadDisplay:
            return "invalid graphics device";
        case kCGLBadState:
            return "invalid context state";
        case kCGLBadValue:
            return "invalid numerical value";
        case kCGLBadMatch:
            return "invalid share context";
        case kCGLBadEnumeration:
            return "invalid enumerant";
        case kCGLBadOffScreen:
            return "invalid offscreen drawable";
        case kCGLBadFullScreen:
            return "invalid fullscreen drawable";
        case kCGLBadWindow:
            return "invalid window";
        case kCGLBadAddress:
            return "invalid pointer";
        case kCGLBadCodeModule:
            return "invalid code module";
        case kCGLBadAlloc:
            return "invalid memory allocation";
        case kCGLBadConnection:
            return "invalid CoreGraphics connection";
    }
    return "unknown error";
}

int CGLStandInLiveContexts(void) {
    std::lock_guard<std::mutex> lock(Lock());
    return int(Contexts().size());
}

int CGLStandInLivePixelFormats(void) {
    std::lock_guard<std::mutex> lock(Lock());
    return int(Formats().size());
}

}  // extern "C"
