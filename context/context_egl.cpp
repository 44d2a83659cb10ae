// Off-screen contexts on Linux: EGL with Mesa, no display server and no window. The surfaceless
// platform is preferred; a default display with a 1x1 pbuffer stands in where it is missing.
#include <GL/glew.h>

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include "context/gl_context.h"
#include "gl/diagnostics.h"

namespace {

// What must be current on a thread, in EGL's terms. The handles this file gives out point to
// these records.
struct EglContextRecord {
    EGLDisplay display;
    EGLSurface draw;
    EGLSurface read;
    EGLContext context;
    bool owned;  // made by CreateContext; the pbuffer (if any) is `draw`
};

struct EglDisplayState {
    EGLDisplay display = EGL_NO_DISPLAY;
    bool needs_pbuffer = false;
    // The attribute that asks for reset notification, 0 where the display offers none.
    EGLint reset_notification = 0;
};

// Records the current state of a thread that GetCurrentContext found: our own contexts, and
// foreign states interned by value (so repeated saves of the same host state reuse one record
// rather than growing without bound). Foreign records live as long as the module, a few bytes
// per distinct host context ever seen. The lists are static objects, not heap ones, so that a
// host that unloads the module gets their memory back; by then every thread's context is gone.
std::mutex& RegistryMutex() {
    static std::mutex mutex;
    return mutex;
}
std::vector<EglContextRecord*>& OwnRecords() {
    static std::vector<EglContextRecord*> records;
    return records;
}
struct ForeignList {
    std::vector<EglContextRecord*> records;
    ~ForeignList() {
        for (EglContextRecord* record : records) delete record;
    }
};
std::vector<EglContextRecord*>& ForeignRecords() {
    static ForeignList list;
    return list.records;
}

thread_local int requested_major = 3;
thread_local int requested_minor = 3;

bool HasExtension(const char* list, const char* name) {
    if (!list) return false;
    const size_t length = std::strlen(name);
    for (const char* at = list; (at = std::strstr(at, name)) != nullptr; at += length) {
        const bool starts = at == list || at[-1] == ' ';
        const bool ends = at[length] == ' ' || at[length] == '\0';
        if (starts && ends) return true;
    }
    return false;
}

// EGL 1.5 names reset notification for desktop GL contexts; before it, the robustness
// extension does.
EGLint ResetNotificationAttribute(EGLDisplay display, EGLint major, EGLint minor) {
    if (major > 1 || (major == 1 && minor >= 5))
        return EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY;
    if (HasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_EXT_create_context_robustness"))
        return EGL_CONTEXT_OPENGL_RESET_NOTIFICATION_STRATEGY_EXT;
    return 0;
}

// The display of the process. It is never terminated: eglTerminate is not reference counted, so
// it would pull the display out from under every other context on it (another thread's, or the
// host's own), and tearing it down during process exit races the driver's own clean-up.
EglDisplayState FirstDisplay() {
    EglDisplayState s;
    const char* client = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (HasExtension(client, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay display =
            eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        EGLint major = 0, minor = 0;
        if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) {
            s.display = display;
            s.needs_pbuffer = !HasExtension(eglQueryString(display, EGL_EXTENSIONS),
                                            "EGL_KHR_surfaceless_context");
            s.reset_notification = ResetNotificationAttribute(display, major, minor);
            return s;
        }
    }
    EGLDisplay display = eglGetDisplay(EGL_DEFAULT_DISPLAY);
    EGLint major = 0, minor = 0;
    if (display != EGL_NO_DISPLAY && eglInitialize(display, &major, &minor)) {
        s.display = display;
        s.needs_pbuffer = true;
        s.reset_notification = ResetNotificationAttribute(display, major, minor);
    }
    return s;
}

// A forked child's display. The parent's waits on driver threads the child does not have (Mesa
// renders every context of a display on the display's threads): a frame drawn there never ends.
// A device's display is another display, with threads of its own; without one, no context.
EglDisplayState ChildDisplay(EGLDisplay parents) {
    EglDisplayState s;
    const auto query = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(
        reinterpret_cast<void*>(eglGetProcAddress("eglQueryDevicesEXT")));
    EGLDeviceEXT devices[16];
    EGLint count = 0;
    if (!query || !query(16, devices, &count)) return s;
    for (EGLint i = 0; i < count; ++i) {
        EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
        EGLint major = 0, minor = 0;
        if (display == EGL_NO_DISPLAY || display == parents ||
            !eglInitialize(display, &major, &minor))
            continue;
        s.display = display;
        s.needs_pbuffer =
            !HasExtension(eglQueryString(display, EGL_EXTENSIONS), "EGL_KHR_surfaceless_context");
        s.reset_notification = ResetNotificationAttribute(display, major, minor);
        break;
    }
    return s;
}

const EglDisplayState& Display() {
    static std::mutex mutex;
    static EglDisplayState state;
    static pid_t owner = 0;
    std::lock_guard<std::mutex> lock(mutex);
    if (owner != getpid()) {
        state = owner ? ChildDisplay(state.display) : FirstDisplay();
        owner = getpid();
    }
    return state;
}

// The entry points are loaded once per process: GLEW keeps them in process-wide pointers, and
// under libglvnd they are dispatch stubs valid for every context, so reloading would only race
// with threads already drawing.
bool LoadEntryPoints() {
    static std::mutex mutex;
    static bool loaded = false;
    std::lock_guard<std::mutex> lock(mutex);
    if (loaded) return true;
    const GLenum result = glewInit();
    // Debian's GLEW is built for GLX: after loading the core entry points it looks for a GLX
    // display, finds none under EGL and reports GLEW_ERROR_NO_GLX_DISPLAY. The GL entry points
    // are in place by then, which the check below confirms.
    const bool ok = result == GLEW_OK || result == GLEW_ERROR_NO_GLX_DISPLAY;
    loaded = ok && glCreateShader != nullptr && glLinkProgram != nullptr &&
             glGenFramebuffers != nullptr && glGenVertexArrays != nullptr;
    return loaded;
}

EglContextRecord* Record(GLContextHandle handle) { return static_cast<EglContextRecord*>(handle); }

}  // namespace

extern "C" {

GLContextHandle CreateContext(GLContextHandle share) {
    const EglDisplayState& state = Display();
    if (state.display == EGL_NO_DISPLAY) {
        Diagnostic("%s\n", "EGL display can't be initialized");
        return nullptr;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        Diagnostic("EGL OpenGL API isn't supported - 0x%04x\n", eglGetError());
        return nullptr;
    }

    const EGLint config_attributes[] = {EGL_SURFACE_TYPE,
                                        state.needs_pbuffer ? EGL_PBUFFER_BIT : 0,
                                        EGL_RENDERABLE_TYPE,
                                        EGL_OPENGL_BIT,
                                        EGL_RED_SIZE,
                                        8,
                                        EGL_GREEN_SIZE,
                                        8,
                                        EGL_BLUE_SIZE,
                                        8,
                                        EGL_ALPHA_SIZE,
                                        8,
                                        EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configs = 0;
    if (!eglChooseConfig(state.display, config_attributes, &config, 1, &configs) || configs < 1) {
        Diagnostic("No EGL config for OpenGL - 0x%04x\n", eglGetError());
        return nullptr;
    }

    // A context that learns of a GPU reset can be replaced; one that does not stays black. The
    // request goes last so that a driver without robustness gets the same list less that pair.
    EGLint context_attributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                   requested_major,
                                   EGL_CONTEXT_MINOR_VERSION,
                                   requested_minor,
                                   EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                   EGL_CONTEXT_OPENGL_CORE_PROFILE_BIT,
                                   state.reset_notification ? state.reset_notification : EGL_NONE,
                                   EGL_LOSE_CONTEXT_ON_RESET,
                                   EGL_NONE};
    EglContextRecord* share_record = Record(share);
    const EGLContext share_context = share_record ? share_record->context : EGL_NO_CONTEXT;
    EGLContext context = eglCreateContext(state.display, config, share_context, context_attributes);
    if (context == EGL_NO_CONTEXT && state.reset_notification) {
        context_attributes[6] = EGL_NONE;
        context = eglCreateContext(state.display, config, share_context, context_attributes);
    }
    if (context == EGL_NO_CONTEXT) {
        Diagnostic("OpenGL %i.%i Core Ctx can't be initialized - 0x%04x\n", requested_major,
                   requested_minor, eglGetError());
        return nullptr;
    }

    EGLSurface surface = EGL_NO_SURFACE;
    if (state.needs_pbuffer) {
        const EGLint pbuffer_attributes[] = {EGL_WIDTH, 1, EGL_HEIGHT, 1, EGL_NONE};
        surface = eglCreatePbufferSurface(state.display, config, pbuffer_attributes);
        if (surface == EGL_NO_SURFACE) {
            Diagnostic("EGL pbuffer can't be created - 0x%04x\n", eglGetError());
            eglDestroyContext(state.display, context);
            return nullptr;
        }
    }

    auto* record = new EglContextRecord{state.display, surface, surface, context, true};

    // GLEW needs a current context to load from; the caller's current state is put back after.
    const EGLDisplay saved_display = eglGetCurrentDisplay();
    const EGLContext saved_context = eglGetCurrentContext();
    const EGLSurface saved_draw = eglGetCurrentSurface(EGL_DRAW);
    const EGLSurface saved_read = eglGetCurrentSurface(EGL_READ);
    bool loaded = false;
    if (eglMakeCurrent(state.display, surface, surface, context)) {
        loaded = LoadEntryPoints();
        if (!loaded) Diagnostic("%s", "Core Profile Glew isn't initialized.\n");
    } else {
        Diagnostic("Cannot Make Context Current - 0x%04x\n", eglGetError());
    }
    if (saved_context != EGL_NO_CONTEXT)
        eglMakeCurrent(saved_display, saved_draw, saved_read, saved_context);
    else
        eglMakeCurrent(state.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);

    if (!loaded) {
        if (surface != EGL_NO_SURFACE) eglDestroySurface(state.display, surface);
        eglDestroyContext(state.display, context);
        delete record;
        return nullptr;
    }

    std::lock_guard<std::mutex> lock(RegistryMutex());
    OwnRecords().push_back(record);
    return record;
}

void DeleteContext(GLContextHandle handle) {
    EglContextRecord* record = Record(handle);
    if (!record) return;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto& own = OwnRecords();
        bool found = false;
        for (auto it = own.begin(); it != own.end(); ++it) {
            if (*it == record) {
                own.erase(it);
                found = true;
                break;
            }
        }
        // A saved foreign state is the caller's to restore, not ours to destroy.
        if (!found) return;
    }
    // A context current on this thread is released first so that it is destroyed now rather
    // than whenever the thread next switches.
    if (eglGetCurrentContext() == record->context)
        eglMakeCurrent(record->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (!eglDestroyContext(record->display, record->context))
        Diagnostic("%s\n", "GL Context Destruction Failed");
    if (record->draw != EGL_NO_SURFACE) eglDestroySurface(record->display, record->draw);
    delete record;
}

void SetCurrentContext(GLContextHandle handle) {
    EglContextRecord* record = Record(handle);
    EGLBoolean ok;
    if (record && record->context != EGL_NO_CONTEXT) {
        eglBindAPI(EGL_OPENGL_API);
        ok = eglMakeCurrent(record->display, record->draw, record->read, record->context);
    } else {
        // Nothing to release on a thread that has no context (and maybe no display) current.
        const EGLDisplay display = eglGetCurrentDisplay();
        if (display == EGL_NO_DISPLAY) return;
        ok = eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    }
    if (!ok) Diagnostic("%s\n", "Cannot Set OpenGL Context");
}

GLContextHandle GetCurrentContext(void) {
    const EGLContext context = eglGetCurrentContext();
    if (context == EGL_NO_CONTEXT) return nullptr;
    const EglContextRecord current{eglGetCurrentDisplay(), eglGetCurrentSurface(EGL_DRAW),
                                   eglGetCurrentSurface(EGL_READ), context, false};

    std::lock_guard<std::mutex> lock(RegistryMutex());
    for (EglContextRecord* own : OwnRecords()) {
        if (own->context == current.context && own->display == current.display &&
            own->draw == current.draw && own->read == current.read)
            return own;
    }
    for (EglContextRecord* foreign : ForeignRecords()) {
        if (foreign->context == current.context && foreign->display == current.display &&
            foreign->draw == current.draw && foreign->read == current.read)
            return foreign;
    }
    auto* record = new EglContextRecord(current);
    ForeignRecords().push_back(record);
    return record;
}

bool IsContextValid(GLContextHandle handle) {
    return handle != nullptr && Record(handle)->context != EGL_NO_CONTEXT;
}

}  // extern "C"

bool IsContextCurrent(GLContextHandle handle) {
    return handle != nullptr && eglGetCurrentContext() == Record(handle)->context;
}

void RequestContextVersionForTesting(int major, int minor) {
    requested_major = major > 0 ? major : 3;
    requested_minor = major > 0 ? minor : 3;
}
