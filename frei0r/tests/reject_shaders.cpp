// Preloaded into a host, stands for a driver that rejects every shader the effect compiles, so
// that the module has something to say. GLEW finds the GL entry points through
// glXGetProcAddressARB, which this library answers before the GL library does.
#include <GL/gl.h>
#include <dlfcn.h>

#include <cstring>

namespace {

using Proc = void (*)();
using GetShaderiv = void (*)(GLuint, GLenum, GLint*);

GetShaderiv g_get_shaderiv = nullptr;

void RejectingGetShaderiv(GLuint shader, GLenum name, GLint* value) {
    g_get_shaderiv(shader, name, value);
    if (name == GL_COMPILE_STATUS) *value = GL_FALSE;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Proc glXGetProcAddressARB(const GLubyte* name) {
    // The GL library may be loaded privately, out of RTLD_NEXT's reach.
    static void* const glx = dlopen("libGLX.so.0", RTLD_LAZY | RTLD_LOCAL);
    static const auto get_proc =
        glx ? reinterpret_cast<Proc (*)(const GLubyte*)>(dlsym(glx, "glXGetProcAddressARB"))
            : nullptr;
    const Proc proc = get_proc ? get_proc(name) : nullptr;
    if (!proc || std::strcmp(reinterpret_cast<const char*>(name), "glGetShaderiv") != 0)
        return proc;
    g_get_shaderiv = reinterpret_cast<GetShaderiv>(proc);
    return reinterpret_cast<Proc>(RejectingGetShaderiv);
}
