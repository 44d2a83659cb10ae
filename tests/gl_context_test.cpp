// Off-screen contexts: creation, current-context switching, save and restore, for every
// implementation built here (EGL, and the macOS one over the CGL stand-in), then what is EGL's
// or CGL's alone.
#include <EGL/egl.h>
#include <gtest/gtest.h>

#include <cstring>
#include <future>
#include <string>
#include <thread>

#include "context/gl_context.h"
#include "context/render_data.h"
#include "gl/gl_errors.h"
#include "tests/support/cgl/cgl_context.h"
#include "tests/support/gl_test_support.h"

namespace {

using vexo_test::CaptureStdout;
using vexo_test::ScopedGLContext;

// One implementation's five functions. Both run on Mesa's EGL underneath, so the checks can ask
// EGL what is current too.
struct ContextPlatform {
    const char* name;
    GLContextHandle (*create)();
    void (*destroy)(GLContextHandle);
    void (*make_current)(GLContextHandle);
    GLContextHandle (*current)();
    bool (*valid)(GLContextHandle);
};

GLContextHandle CreateEglContext() { return CreateContext(); }
GLContextHandle CreateCglContext() { return CreateContext_CGL(nullptr, nullptr); }

const ContextPlatform kPlatforms[] = {
    {"EGL", CreateEglContext, DeleteContext, SetCurrentContext, GetCurrentContext, IsContextValid},
    {"CGL", CreateCglContext, DeleteContext_CGL, SetCurrentContext_CGL, GetCurrentContext_CGL,
     IsContextValid_CGL},
};

class GLContextOn : public ::testing::TestWithParam<ContextPlatform> {};

INSTANTIATE_TEST_SUITE_P(Each, GLContextOn, ::testing::ValuesIn(kPlatforms),
                         [](const ::testing::TestParamInfo<ContextPlatform>& info) {
                             return std::string(info.param.name);
                         });

TEST_P(GLContextOn, NullHandlesAreHarmless) {
    const ContextPlatform& p = GetParam();
    EXPECT_FALSE(p.valid(nullptr));
    p.destroy(nullptr);
    // On a thread that never had a context (and so no display either).
    std::thread([&p] {
        const std::string out = CaptureStdout([&p] { p.make_current(nullptr); });
        EXPECT_EQ(out, "");
        EXPECT_EQ(p.current(), nullptr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
    }).join();
}

TEST_P(GLContextOn, CreatesACoreContextWithoutDisturbingTheCurrentOne) {
    const ContextPlatform& p = GetParam();
    ASSERT_EQ(p.current(), nullptr);
    GLContextHandle context = p.create();
    ASSERT_NE(context, nullptr);
    EXPECT_TRUE(p.valid(context));
    // Creation leaves the caller's state alone; callers make the new context current themselves.
    EXPECT_EQ(p.current(), nullptr);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);

    p.make_current(context);
    EXPECT_EQ(p.current(), context);
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
    p.destroy(context);
    EXPECT_EQ(p.current(), nullptr);
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

TEST_P(GLContextOn, SaveAndRestoreBetweenOwnContexts) {
    const ContextPlatform& p = GetParam();
    const GLContextHandle a = p.create();
    ASSERT_NE(a, nullptr);
    p.make_current(a);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);

    const GLContextHandle saved = p.current();
    EXPECT_EQ(saved, a);
    const GLContextHandle b = p.create();
    ASSERT_NE(b, nullptr);
    p.make_current(b);
    EXPECT_EQ(p.current(), b);
    // Contexts share nothing.
    EXPECT_FALSE(glIsTexture(texture));
    p.make_current(saved);
    EXPECT_TRUE(glIsTexture(texture));
    // Deleting a context that is not current leaves the current one alone.
    p.destroy(b);
    EXPECT_EQ(p.current(), a);
    EXPECT_TRUE(glIsTexture(texture));
    glDeleteTextures(1, &texture);
    p.destroy(a);
    EXPECT_EQ(p.current(), nullptr);
}

TEST_P(GLContextOn, SavingWithNoContextCurrentRestoresNone) {
    const ContextPlatform& p = GetParam();
    std::thread([&p] {
        const GLContextHandle saved = p.current();
        EXPECT_EQ(saved, nullptr);
        GLContextHandle context = p.create();
        ASSERT_NE(context, nullptr);
        p.make_current(context);
        ASSERT_EQ(eglGetCurrentContext() != EGL_NO_CONTEXT, true);
        p.make_current(saved);
        EXPECT_EQ(p.current(), nullptr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        EXPECT_EQ(eglGetCurrentSurface(EGL_DRAW), EGL_NO_SURFACE);
        p.destroy(context);
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

TEST_P(GLContextOn, EachThreadHasItsOwnCurrentContext) {
    const ContextPlatform& p = GetParam();
    GLContextHandle contexts[2] = {};
    GLContextHandle seen[2] = {};
    std::promise<void> both_current[2];
    std::shared_future<void> ready[2] = {both_current[0].get_future().share(),
                                         both_current[1].get_future().share()};
    auto run = [&](int i) {
        contexts[i] = p.create();
        p.make_current(contexts[i]);
        both_current[i].set_value();
        // Both are current at once, each on its own thread.
        ready[1 - i].wait();
        seen[i] = p.current();
        p.make_current(nullptr);
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
    EXPECT_EQ(p.current(), nullptr);
    p.destroy(contexts[0]);
    p.destroy(contexts[1]);
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

// What the macOS implementation adds: its attribute lists, CGL's reference counts, and two
// messages when no pixel format matches.
CGLPixelFormatAttribute Attribute(int value) { return static_cast<CGLPixelFormatAttribute>(value); }

TEST(CGLContext, NoMatchingPixelFormatPrintsTwoMessagesAndGivesNull) {
    const int contexts = CGLStandInLiveContexts();
    const int formats = CGLStandInLivePixelFormats();
    // No renderer has a 64-bit stencil buffer.
    const CGLPixelFormatAttribute unsatisfiable[] = {
        kCGLPFAOpenGLProfile, Attribute(kCGLOGLPVersion_3_2_Core), kCGLPFAStencilSize,
        Attribute(64), Attribute(0)};
    GLContextHandle context = reinterpret_cast<GLContextHandle>(1);
    std::string out = CaptureStdout([&] { context = CreateContext_CGL(nullptr, unsatisfiable); });
    EXPECT_EQ(context, nullptr);
    EXPECT_FALSE(IsContextValid_CGL(context));
    EXPECT_EQ(out, "0 - invalid pixel format\n0 - invalid pixel format\n");

    // A profile the framework does not know fails the choice with its own code.
    const CGLPixelFormatAttribute unknown[] = {kCGLPFAOpenGLProfile, Attribute(0x9900),
                                               Attribute(0)};
    out = CaptureStdout([&] { context = CreateContext_CGL(nullptr, unknown); });
    EXPECT_EQ(context, nullptr);
    EXPECT_EQ(out, "0 - invalid numerical value\n0 - invalid pixel format\n");

    EXPECT_EQ(CGLStandInLiveContexts(), contexts);
    EXPECT_EQ(CGLStandInLivePixelFormats(), formats);
    EXPECT_EQ(GetCurrentContext_CGL(), nullptr);
}

TEST(CGLContext, CreationRetainsOnceAndDeletionReleasesBoth) {
    EXPECT_STREQ(VEXOGLClassStrZ, "VEXO_OpenGL_Win_Class");
    const int contexts = CGLStandInLiveContexts();
    const int formats = CGLStandInLivePixelFormats();
    GLContextHandle handle = nullptr;
    std::string out = CaptureStdout([&] { handle = CreateContext_CGL(nullptr, nullptr); });
    EXPECT_EQ(out, "");
    ASSERT_TRUE(IsContextValid_CGL(handle));
    const CGLContextObj context = static_cast<CGLContextObj>(handle);
    EXPECT_EQ(CGLGetCurrentContext(), nullptr) << "not current after creation";
    // Creation's own reference and the one handed to the caller.
    EXPECT_EQ(CGLGetContextRetainCount(context), 2u);
    // The pixel format lives on in the context only.
    EXPECT_EQ(CGLStandInLivePixelFormats(), formats + 1);

    SetCurrentContext_CGL(handle);
    EXPECT_EQ(CGLGetCurrentContext(), context);
    GLint major = 0, minor = 0, profile = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_GE(major * 10 + minor, 32);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
    // The effect's six programs link in it.
    GLPrograms programs{};
    CreateGLPrograms(&programs);
    EXPECT_NE(programs.swizzleInProgram, 0u);
    EXPECT_NE(programs.displaceProgram, 0u);
    EXPECT_NE(programs.blurWProgram, 0u);
    EXPECT_NE(programs.blurHProgram, 0u);
    EXPECT_NE(programs.bicubicProgram, 0u);
    EXPECT_NE(programs.oversampleProgram, 0u);
    DeleteGLPrograms(&programs);

    // A reference held elsewhere outlives the deletion, which drops exactly the two it made:
    // the release, then the destroy.
    CGLRetainContext(context);
    out = CaptureStdout([&] { DeleteContext_CGL(handle); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(CGLGetContextRetainCount(context), 1u);
    EXPECT_EQ(CGLStandInLiveContexts(), contexts + 1);
    CGLReleaseContext(context);
    EXPECT_EQ(CGLStandInLiveContexts(), contexts);
    EXPECT_EQ(CGLStandInLivePixelFormats(), formats);
    // The context went while current, and took the thread's current context with it.
    EXPECT_EQ(GetCurrentContext_CGL(), nullptr);
    EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
}

TEST(CGLContext, AnAttributeListChoosesTheProfileAndAShareContextSharesObjects) {
    const CGLPixelFormatAttribute gl4[] = {
        kCGLPFAOpenGLProfile, Attribute(kCGLOGLPVersion_GL4_Core),
        kCGLPFAColorSize,     Attribute(24),
        kCGLPFAAlphaSize,     Attribute(8),
        kCGLPFAAccelerated,   Attribute(0)};
    const GLContextHandle a = CreateContext_CGL(nullptr, gl4);
    ASSERT_TRUE(IsContextValid_CGL(a));
    SetCurrentContext_CGL(a);
    GLint major = 0, minor = 0, profile = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    EXPECT_GE(major * 10 + minor, 41);
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);

    const GLContextHandle b = CreateContext_CGL(a, gl4);
    ASSERT_TRUE(IsContextValid_CGL(b));
    SetCurrentContext_CGL(b);
    EXPECT_EQ(GetCurrentContext_CGL(), b);
    EXPECT_TRUE(glIsTexture(texture)) << "a share context sees the other's objects";
    glDeleteTextures(1, &texture);
    SetCurrentContext_CGL(nullptr);
    DeleteContext_CGL(b);
    DeleteContext_CGL(a);
    EXPECT_EQ(GetCurrentContext_CGL(), nullptr);
}

}  // namespace
