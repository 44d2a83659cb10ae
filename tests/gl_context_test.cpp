// Off-screen contexts on EGL: creation, current-context switching, save and restore.
#include <EGL/egl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "context/gl_context.h"
#include "gl/gl_errors.h"
#include "tests/support/gl_test_support.h"

namespace {

using vexo_test::CaptureStdout;
using vexo_test::ScopedGLContext;

TEST(GLContext, NullHandlesAreHarmless) {
    EXPECT_FALSE(IsContextValid(nullptr));
    DeleteContext(nullptr);
    // On a thread that never had a context (and so no display either).
    std::thread([] {
        const std::string out = CaptureStdout([] { SetCurrentContext(nullptr); });
        EXPECT_EQ(out, "");
        EXPECT_EQ(GetCurrentContext(), nullptr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
    }).join();
}

TEST(GLContext, CreatesACoreContextWithoutDisturbingTheCurrentOne) {
    ASSERT_EQ(GetCurrentContext(), nullptr);
    GLContextHandle context = CreateContext();
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(IsContextValid(context));
    // Creation leaves the caller's state alone; callers make the new context current themselves.
    EXPECT_EQ(GetCurrentContext(), nullptr);

    SetCurrentContext(context);
    EXPECT_EQ(GetCurrentContext(), context);
    // Entry points beyond GL 1.1 are loaded.
    ASSERT_NE(glCreateShader, nullptr);
    ASSERT_NE(glGenVertexArrays, nullptr);
    GLint major = 0, minor = 0, profile = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_GE(major * 10 + minor, 33);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);

    // The texts the effect compiles start with "#version 330 core".
    const char* source = "#version 330 core\nout vec4 c;\nvoid main() { c = vec4(1.0); }\n";
    GLuint shader = glCreateShader(GL_FRAGMENT_SHADER);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    EXPECT_EQ(status, GL_TRUE);
    glDeleteShader(shader);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Deleting the current context leaves none current.
    DeleteContext(context);
    EXPECT_EQ(GetCurrentContext(), nullptr);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
}

TEST(GLContext, ContextsAskToLearnOfAGPUReset) {
    // Mesa's EGL offers reset notification (EGL 1.5), so the context must carry it: without it
    // a reset would leave every later frame black with nothing to tell.
    ScopedGLContext gl;
    ASSERT_TRUE(gl.ok());
    GLint strategy = 0;
    glGetIntegerv(GL_RESET_NOTIFICATION_STRATEGY_ARB, &strategy);
    EXPECT_EQ(strategy, GL_LOSE_CONTEXT_ON_RESET_ARB);
    EXPECT_FALSE(TakeGLContextLost());
    SimulateGLContextLossForTesting();
    EXPECT_TRUE(TakeGLContextLost());
    EXPECT_FALSE(TakeGLContextLost());
}

TEST(GLContext, SaveAndRestoreBetweenOwnContexts) {
    ScopedGLContext a;
    ASSERT_TRUE(a.ok());
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);

    const GLContextHandle saved = GetCurrentContext();
    EXPECT_EQ(saved, a.handle());
    {
        ScopedGLContext b;
        ASSERT_TRUE(b.ok());
        EXPECT_EQ(GetCurrentContext(), b.handle());
        // Contexts share nothing.
        EXPECT_FALSE(glIsTexture(texture));
        SetCurrentContext(saved);
        EXPECT_TRUE(glIsTexture(texture));
        SetCurrentContext(b.handle());
    }
    // The scoped context put `a` back.
    EXPECT_EQ(GetCurrentContext(), a.handle());
    EXPECT_TRUE(glIsTexture(texture));
    glDeleteTextures(1, &texture);
}

TEST(GLContext, SavingWithNoContextCurrentRestoresNone) {
    std::thread([] {
        const GLContextHandle saved = GetCurrentContext();
        EXPECT_EQ(saved, nullptr);
        GLContextHandle context = CreateContext();
        ASSERT_NE(context, nullptr);
        SetCurrentContext(context);
        ASSERT_EQ(eglGetCurrentContext() != EGL_NO_CONTEXT, true);
        SetCurrentContext(saved);
        EXPECT_EQ(GetCurrentContext(), nullptr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        EXPECT_EQ(eglGetCurrentSurface(EGL_DRAW), EGL_NO_SURFACE);
        DeleteContext(context);
    }).join();
}

// A host may have its own context current, with its own surfaces; saving captures all of it.
TEST(GLContext, SaveAndRestoreAForeignContextWithItsSurfaces) {
    std::thread([] {
        // Let our code pick and initialise the display, then build a "host" context on it.
        GLContextHandle ours = CreateContext();
        ASSERT_NE(ours, nullptr);
        SetCurrentContext(ours);
        const EGLDisplay display = eglGetCurrentDisplay();
        SetCurrentContext(nullptr);

        ASSERT_TRUE(eglBindAPI(EGL_OPENGL_API));
        const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                            EGL_OPENGL_BIT, EGL_NONE};
        EGLConfig config = nullptr;
        EGLint count = 0;
        ASSERT_TRUE(eglChooseConfig(display, config_attributes, &config, 1, &count));
        ASSERT_EQ(count, 1);
        const EGLint pbuffer_attributes[] = {EGL_WIDTH, 4, EGL_HEIGHT, 4, EGL_NONE};
        EGLSurface surface = eglCreatePbufferSurface(display, config, pbuffer_attributes);
        ASSERT_NE(surface, EGL_NO_SURFACE);
        EGLContext host = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
        ASSERT_NE(host, EGL_NO_CONTEXT);
        ASSERT_TRUE(eglMakeCurrent(display, surface, surface, host));

        const GLContextHandle saved = GetCurrentContext();
        ASSERT_NE(saved, nullptr);
        EXPECT_TRUE(IsContextValid(saved));
        // Saving the same state again hands back the same record rather than a new one.
        EXPECT_EQ(GetCurrentContext(), saved);

        SetCurrentContext(ours);
        EXPECT_EQ(GetCurrentContext(), ours);
        EXPECT_NE(eglGetCurrentContext(), host);
        SetCurrentContext(saved);
        EXPECT_EQ(eglGetCurrentContext(), host);
        EXPECT_EQ(eglGetCurrentSurface(EGL_DRAW), surface);
        EXPECT_EQ(eglGetCurrentSurface(EGL_READ), surface);

        // A saved record is for restoring only: deleting it must not destroy the host's context.
        DeleteContext(saved);
        EGLint id = 0;
        EXPECT_TRUE(eglQueryContext(display, host, EGL_CONFIG_ID, &id));
        EXPECT_EQ(eglGetCurrentContext(), host);

        SetCurrentContext(nullptr);
        eglDestroyContext(display, host);
        eglDestroySurface(display, surface);
        DeleteContext(ours);
    }).join();
}

TEST(GLContext, EachThreadHasItsOwnCurrentContext) {
    GLContextHandle contexts[2] = {};
    GLContextHandle seen[2] = {};
    std::promise<void> both_current[2];
    std::shared_future<void> ready[2] = {both_current[0].get_future().share(),
                                         both_current[1].get_future().share()};
    auto run = [&](int i) {
        contexts[i] = CreateContext();
        SetCurrentContext(contexts[i]);
        both_current[i].set_value();
        // Both are current at once, each on its own thread.
        ready[1 - i].wait();
        seen[i] = GetCurrentContext();
        SetCurrentContext(nullptr);
    };
    std::thread a(run, 0), b(run, 1);
    a.join();
    b.join();
    ASSERT_NE(contexts[0], nullptr);
    ASSERT_NE(contexts[1], nullptr);
    EXPECT_NE(contexts[0], contexts[1]);
    EXPECT_EQ(seen[0], contexts[0]);
    EXPECT_EQ(seen[1], contexts[1]);
    // Neither became current here.
    EXPECT_EQ(GetCurrentContext(), nullptr);
    DeleteContext(contexts[0]);
    DeleteContext(contexts[1]);
}

TEST(GLContext, FailedCreationPrintsOneLineAndGivesNull) {
    RequestContextVersionForTesting(99, 0);
    GLContextHandle context = reinterpret_cast<GLContextHandle>(1);
    const std::string out = CaptureStdout([&] { context = CreateContext(); });
    RequestContextVersionForTesting(0, 0);
    EXPECT_EQ(context, nullptr);
    EXPECT_FALSE(IsContextValid(context));
    ASSERT_FALSE(out.empty());
    EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    EXPECT_EQ(GetCurrentContext(), nullptr);

    // The hook is per thread and reset: the next creation works.
    GLContextHandle ok = CreateContext();
    EXPECT_NE(ok, nullptr);
    DeleteContext(ok);
}

}  // namespace
