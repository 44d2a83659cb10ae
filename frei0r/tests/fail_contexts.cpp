// Preloaded into a host, stands for a driver that cannot make contexts for a while (restarting
// after a reset): the first VEXO_FAIL_CONTEXTS context creations of the process fail.
#include <EGL/egl.h>
#include <dlfcn.h>

#include <atomic>
#include <cstdlib>

extern "C" __attribute__((visibility("default"))) EGLContext eglCreateContext(
    EGLDisplay display, EGLConfig config, EGLContext share, const EGLint* attributes) {
    using Create = EGLContext (*)(EGLDisplay, EGLConfig, EGLContext, const EGLint*);
    static const auto create = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "eglCreateContext"));
    static std::atomic<int> failures{[] {
        const char* count = std::getenv("VEXO_FAIL_CONTEXTS");
        return count ? std::atoi(count) : 0;
    }()};
    if (failures.fetch_sub(1) > 0 || !create) return EGL_NO_CONTEXT;
    return create(display, config, share, attributes);
}
