// The WGL contexts for real (under wine, Mesa behind opengl32): a hidden window with its class, a
// core-profile context that renders, the caller's context restored, several contexts at once and
// one per thread, and everything released again.
#include <windows.h>

#include <GL/glew.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>

#include <cstdio>
#include <string>
#include <thread>

#include "context/gl_context.h"
#include "context/render_data.h"

namespace {

// The record behind a Windows handle, in the module's field order.
struct WinGLContextView {
    HWND hwnd;
    HGLRC hglrc;
    HDC hdc;
};

const WinGLContextView& View(GLContextHandle handle) {
    return *static_cast<const WinGLContextView*>(handle);
}

constexpr const char* kClassName = "VEXO_OpenGL_Win_Class";
constexpr const char* kWindowTitle = "OpenGL-using FBOs in AE";

// Whether the hidden window class is registered: a window of it can be made.
bool ClassRegistered() {
    HWND probe = CreateWindowExA(0, kClassName, "probe", 0, 0, 0, 1, 1, NULL, NULL, NULL, NULL);
    if (!probe) return false;
    DestroyWindow(probe);
    return true;
}

// What the code under test prints on standard output while `run` runs.
template <typename F>
std::string CapturedStdout(F run) {
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "vxo", 0, path);
    std::fflush(stdout);
    const int saved = _dup(_fileno(stdout));
    const int file = _open(path, _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(file, _fileno(stdout));
    _close(file);
    run();
    std::fflush(stdout);
    _dup2(saved, _fileno(stdout));
    _close(saved);
    std::string text;
    if (FILE* f = std::fopen(path, "rb")) {
        char buffer[512];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
        std::fclose(f);
    }
    DeleteFileA(path);
    return text;
}

// Clears a float framebuffer to values outside 0..1 and reads them back: the context renders,
// with the entry points beyond GL 1.1 loaded. Leaves no GL object behind.
void ExpectFloatRendering() {
    ASSERT_NE(glGenFramebuffers, nullptr);
    GLuint texture = 0, fbo = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 4, 2, 0, GL_RGBA, GL_FLOAT, nullptr);
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), GLenum(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, 4, 2);
    glClearColor(0.25f, -1.5f, 3.0f, 0.5f);
    glClear(GL_COLOR_BUFFER_BIT);
    float pixels[4 * 2 * 4] = {};
    glReadPixels(0, 0, 4, 2, GL_RGBA, GL_FLOAT, pixels);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(pixels[4 * i + 0], 0.25f);
        EXPECT_EQ(pixels[4 * i + 1], -1.5f);
        EXPECT_EQ(pixels[4 * i + 2], 3.0f);
        EXPECT_EQ(pixels[4 * i + 3], 0.5f);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteFramebuffers(1, &fbo);
    glDeleteTextures(1, &texture);
    EXPECT_FALSE(glIsFramebuffer(fbo));
    EXPECT_FALSE(glIsTexture(texture));
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

GLuint CompileShader(GLenum type, const char* text) {
    const GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &text, nullptr);
    glCompileShader(shader);
    GLint ok = 0;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    EXPECT_TRUE(ok) << text;
    return shader;
}

// The shading language version the effect's shaders declare compiles and links.
void ExpectGlsl330Links() {
    ASSERT_NE(glCreateShader, nullptr);
    const GLuint vs = CompileShader(GL_VERTEX_SHADER,
                                    "#version 330 core\n"
                                    "layout(location = 0) in vec2 position;\n"
                                    "void main() { gl_Position = vec4(position, 0.0, 1.0); }\n");
    const GLuint fs = CompileShader(GL_FRAGMENT_SHADER,
                                    "#version 330\n"
                                    "out vec4 colour;\n"
                                    "void main() { colour = vec4(1.0); }\n");
    const GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    glLinkProgram(program);
    GLint linked = 0;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    EXPECT_TRUE(linked);
    glDeleteShader(vs);
    glDeleteShader(fs);
    glDeleteProgram(program);
    EXPECT_FALSE(glIsProgram(program));
}

TEST(WglContext, CreatesAHiddenCoreProfileContextAndReleasesItAll) {
    ASSERT_EQ(wglGetCurrentContext(), HGLRC(NULL));
    const GLContextHandle none = GetCurrentContext();
    ASSERT_NE(none, nullptr);
    EXPECT_FALSE(IsContextValid(none));

    GLContextHandle context = nullptr;
    const std::string printed = CapturedStdout([&] { context = CreateContext(); });
    EXPECT_EQ(printed, "");  // success is silent
    ASSERT_TRUE(IsContextValid(context));
    const WinGLContextView view = View(context);
    ASSERT_TRUE(view.hwnd && view.hdc && view.hglrc);
    EXPECT_EQ(wglGetCurrentContext(), view.hglrc) << "creation leaves the new context current";
    EXPECT_EQ(wglGetCurrentDC(), view.hdc);

    // The hidden window and its class.
    EXPECT_TRUE(IsWindow(view.hwnd));
    EXPECT_FALSE(IsWindowVisible(view.hwnd));
    EXPECT_EQ(FindWindowA(kClassName, kWindowTitle), view.hwnd);
    EXPECT_EQ(GetClassLongPtrA(view.hwnd, GCL_STYLE), ULONG_PTR(CS_HREDRAW | CS_VREDRAW));
    EXPECT_EQ(GetClassLongPtrA(view.hwnd, GCLP_HBRBACKGROUND),
              ULONG_PTR(GetStockObject(BLACK_BRUSH)));
    EXPECT_EQ(GetClassLongPtrA(view.hwnd, GCLP_HCURSOR),
              ULONG_PTR(LoadCursorA(NULL, MAKEINTRESOURCEA(32512))));  // IDC_ARROW

    // The window's pixel format is the one asked for.
    PIXELFORMATDESCRIPTOR format{};
    const int index = GetPixelFormat(view.hdc);
    ASSERT_GT(index, 0);
    ASSERT_GT(DescribePixelFormat(view.hdc, index, sizeof format, &format), 0);
    const DWORD wanted = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    EXPECT_EQ(format.dwFlags & wanted, wanted);
    EXPECT_EQ(format.iPixelType, PFD_TYPE_RGBA);

    // A 3.2-or-later core profile.
    GLint major = 0, minor = 0, profile = 0;
    glGetIntegerv(GL_MAJOR_VERSION, &major);
    glGetIntegerv(GL_MINOR_VERSION, &minor);
    glGetIntegerv(GL_CONTEXT_PROFILE_MASK, &profile);
    std::printf("context: OpenGL %s, %s\n", reinterpret_cast<const char*>(glGetString(GL_VERSION)),
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
    EXPECT_TRUE(major > 3 || (major == 3 && minor >= 2)) << major << "." << minor;
    EXPECT_TRUE(profile & GL_CONTEXT_CORE_PROFILE_BIT);
    EXPECT_FALSE(profile & GL_CONTEXT_COMPATIBILITY_PROFILE_BIT);
    ExpectGlsl330Links();
    ExpectFloatRendering();

    // Back to what was current before: nothing.
    SetCurrentContext(none);
    EXPECT_EQ(wglGetCurrentContext(), HGLRC(NULL));

    EXPECT_EQ(CapturedStdout([&] { DeleteContext(context); }), "");
    EXPECT_FALSE(IsWindow(view.hwnd));
    EXPECT_FALSE(ClassRegistered()) << "the last context's deletion unregisters the class";
    EXPECT_EQ(wglGetCurrentContext(), HGLRC(NULL));
}

TEST(WglContext, PutsBackTheCallersOwnContext) {
    // The caller's context, as a host application would have one current: its own window, a
    // legacy context.
    HWND window = CreateWindowExA(0, "STATIC", "host", 0, 0, 0, 64, 64, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(window);
    HDC dc = GetDC(window);
    PIXELFORMATDESCRIPTOR format{};
    format.nSize = sizeof format;
    format.nVersion = 1;
    format.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL;
    format.iPixelType = PFD_TYPE_RGBA;
    format.cColorBits = 24;
    ASSERT_TRUE(SetPixelFormat(dc, ChoosePixelFormat(dc, &format), &format));
    HGLRC host = wglCreateContext(dc);
    ASSERT_TRUE(host);
    ASSERT_TRUE(wglMakeCurrent(dc, host));

    const GLContextHandle saved = GetCurrentContext();
    ASSERT_TRUE(IsContextValid(saved));
    EXPECT_EQ(View(saved).hwnd, HWND(NULL));
    EXPECT_EQ(View(saved).hglrc, host);
    EXPECT_EQ(View(saved).hdc, dc);

    const GLContextHandle context = CreateContext();
    ASSERT_TRUE(IsContextValid(context));
    SetCurrentContext(context);
    EXPECT_EQ(wglGetCurrentContext(), View(context).hglrc);
    SetCurrentContext(saved);
    EXPECT_EQ(wglGetCurrentContext(), host);
    EXPECT_EQ(wglGetCurrentDC(), dc);

    DeleteContext(context);
    EXPECT_EQ(wglGetCurrentContext(), HGLRC(NULL)) << "deletion leaves no context current";
    SetCurrentContext(saved);
    EXPECT_EQ(wglGetCurrentContext(), host);

    wglMakeCurrent(NULL, NULL);
    wglDeleteContext(host);
    ReleaseDC(window, dc);
    DestroyWindow(window);
}

TEST(WglContext, SecondContextSharesTheClassButNoObjects) {
    const GLContextHandle first = CreateContext();
    ASSERT_TRUE(IsContextValid(first));
    ASSERT_TRUE(ClassRegistered());
    // Saved while one of the module's own contexts is current, as global setup on a render
    // thread would: a plain record of what is current, not the context itself.
    const GLContextHandle saved = GetCurrentContext();
    EXPECT_NE(saved, first);
    EXPECT_EQ(View(saved).hwnd, HWND(NULL));
    EXPECT_EQ(View(saved).hglrc, View(first).hglrc);

    const GLContextHandle second = CreateContext();  // the class exists already
    ASSERT_TRUE(IsContextValid(second));
    const WinGLContextView a = View(first), b = View(second);
    EXPECT_EQ(wglGetCurrentContext(), b.hglrc);
    SetCurrentContext(saved);
    EXPECT_EQ(wglGetCurrentContext(), a.hglrc);
    EXPECT_NE(a.hwnd, b.hwnd) << "each context has its own hidden window";
    EXPECT_NE(a.hdc, b.hdc);
    EXPECT_NE(a.hglrc, b.hglrc);
    EXPECT_EQ(GetClassWord(a.hwnd, GCW_ATOM), GetClassWord(b.hwnd, GCW_ATOM));

    // A texture of the second context is not one of the first's.
    SetCurrentContext(second);
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    ASSERT_TRUE(glIsTexture(texture));
    SetCurrentContext(first);
    EXPECT_FALSE(glIsTexture(texture));
    ExpectFloatRendering();

    // Deleting the first keeps the class for the second's window, and the second working.
    DeleteContext(first);
    EXPECT_FALSE(IsWindow(a.hwnd));
    EXPECT_TRUE(IsWindow(b.hwnd));
    EXPECT_TRUE(ClassRegistered());
    SetCurrentContext(second);
    EXPECT_EQ(wglGetCurrentContext(), b.hglrc);
    EXPECT_TRUE(glIsTexture(texture));
    glDeleteTextures(1, &texture);
    EXPECT_FALSE(glIsTexture(texture));
    ExpectFloatRendering();

    DeleteContext(second);
    EXPECT_FALSE(IsWindow(b.hwnd));
    EXPECT_FALSE(ClassRegistered());
}

TEST(WglContext, EachThreadMakesAndUsesItsOwn) {
    const GLContextHandle main_context = CreateContext();
    ASSERT_TRUE(IsContextValid(main_context));
    const HGLRC main_rc = View(main_context).hglrc;

    std::string busy_message;
    HGLRC thread_rc = NULL;
    std::thread worker([&] {
        // A new thread starts with nothing current, whatever the other threads hold.
        const GLContextHandle none = GetCurrentContext();
        EXPECT_FALSE(IsContextValid(none));
        const GLContextHandle own = CreateContext();
        ASSERT_TRUE(IsContextValid(own));
        thread_rc = View(own).hglrc;
        SetCurrentContext(own);
        EXPECT_EQ(wglGetCurrentContext(), thread_rc);
        ExpectGlsl330Links();
        ExpectFloatRendering();
        // The main thread's context is current there, so it cannot be made current here.
        busy_message = CapturedStdout([&] { SetCurrentContext(main_context); });
        SetCurrentContext(own);
        EXPECT_EQ(wglGetCurrentContext(), thread_rc);
        DeleteContext(own);
        EXPECT_EQ(wglGetCurrentContext(), HGLRC(NULL));
    });
    worker.join();

    EXPECT_NE(thread_rc, HGLRC(NULL));
    EXPECT_NE(thread_rc, main_rc);
    EXPECT_EQ(busy_message, "Cannot Set OpenGL Context\n");
    // The worker's contexts came and went without touching this thread's.
    EXPECT_EQ(wglGetCurrentContext(), main_rc);
    ExpectFloatRendering();
    EXPECT_TRUE(ClassRegistered()) << "the main thread's window still holds the class";
    DeleteContext(main_context);
    EXPECT_FALSE(ClassRegistered());
}

// A render thread's end runs inside the loader's thread-detach notification: its context waits
// there for a live thread, which deletes it without disturbing its own.
TEST(WglContext, AnEndedRenderThreadsContextIsDeletedByALiveThread) {
    LocalGLStruct global_block{};
    global_block.context = CreateContext();
    ASSERT_TRUE(IsContextValid(global_block.context));
    void* block_pointer = &global_block;
    PF_InData in_data{};
    in_data.global_data = reinterpret_cast<PF_Handle>(&block_pointer);

    HGLRC ended_rc = NULL;
    HWND ended_window = NULL;
    std::thread worker([&] {
        InitThreadLocalRenderData(&in_data, nullptr);
        ASSERT_TRUE(local_render_data && IsContextCurrent(local_render_data->context));
        ended_rc = View(local_render_data->context).hglrc;
        ended_window = View(local_render_data->context).hwnd;
    });
    worker.join();
    ASSERT_NE(ended_rc, HGLRC(NULL));
    EXPECT_FALSE(IsWindow(ended_window)) << "the system destroys an ended thread's window";

    SetCurrentContext(global_block.context);
    const std::string said = CapturedStdout([] { DeleteContextsOfEndedThreads(); });
    EXPECT_EQ(said, "") << "the ended thread's context could not be deleted";
    EXPECT_EQ(wglGetCurrentContext(), View(global_block.context).hglrc);
    EXPECT_FALSE(wglMakeCurrent(View(global_block.context).hdc, ended_rc)) << "still alive";
    EXPECT_EQ(wglGetCurrentContext(), View(global_block.context).hglrc);
    DeleteContext(global_block.context);
}

TEST(WglContext, NullAndEmptyHandlesMeanNoContext) {
    EXPECT_FALSE(IsContextValid(nullptr));
    WinGLContextView empty{NULL, NULL, NULL};
    EXPECT_FALSE(IsContextValid(&empty));
    EXPECT_EQ(CapturedStdout([] { DeleteContext(nullptr); }), "");

    const GLContextHandle context = CreateContext();
    ASSERT_TRUE(IsContextValid(context));
    // A record without a GL context, or none at all, leaves the thread with nothing current.
    empty.hdc = View(context).hdc;
    EXPECT_EQ(CapturedStdout([&] { SetCurrentContext(&empty); }), "");
    EXPECT_EQ(wglGetCurrentContext(), HGLRC(NULL));
    SetCurrentContext(context);
    EXPECT_EQ(wglGetCurrentContext(), View(context).hglrc);
    EXPECT_EQ(CapturedStdout([] { SetCurrentContext(nullptr); }), "");
    EXPECT_EQ(wglGetCurrentContext(), HGLRC(NULL));
    DeleteContext(context);
}

}  // namespace
