#include "tests/support/gl_test_support.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "gl/diagnostics.h"

namespace vexo_test {

ScopedGLContext::ScopedGLContext() {
    saved_ = GetCurrentContext();
    context_ = CreateContext();
    if (context_) SetCurrentContext(context_);
}

ScopedGLContext::~ScopedGLContext() {
    if (context_) {
        SetCurrentContext(context_);
        DeleteContext(context_);
    }
    SetCurrentContext(saved_);
}

void GLTest::SetUp() {
    gl_ = new ScopedGLContext();
    ASSERT_TRUE(gl_->ok()) << "no off-screen GL context could be made";
}

void GLTest::TearDown() {
    delete gl_;
    gl_ = nullptr;
}

std::string CaptureStdout(const std::function<void()>& fn) {
    std::cout.flush();
    std::fflush(stdout);
    std::FILE* sink = std::tmpfile();
    if (!sink) {
        ADD_FAILURE() << "no temporary file for capturing standard output";
        fn();
        return std::string();
    }
    const int saved = dup(fileno(stdout));
    dup2(fileno(sink), fileno(stdout));
    // The effect's diagnostics land here too, as in the application, whatever host set them up.
    const DiagnosticSink diagnostics = SetDiagnosticSink(nullptr);
    // Restore standard output however `fn` leaves (a failed ASSERT inside throws nothing, but an
    // exception might).
    struct Restore {
        int saved;
        DiagnosticSink diagnostics;
        ~Restore() {
            std::cout.flush();
            std::fflush(stdout);
            dup2(saved, fileno(stdout));
            close(saved);
            SetDiagnosticSink(diagnostics);
        }
    };
    {
        Restore restore{saved, diagnostics};
        fn();
    }
    std::string text;
    std::rewind(sink);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof(buffer), sink)) > 0) text.append(buffer, n);
    std::fclose(sink);
    return text;
}

GLObjectCounts CountLiveGLObjects(GLuint max_name) {
    GLObjectCounts counts;
    for (GLuint name = 1; name <= max_name; ++name) {
        counts.textures += glIsTexture(name) ? 1 : 0;
        counts.buffers += glIsBuffer(name) ? 1 : 0;
        counts.framebuffers += glIsFramebuffer(name) ? 1 : 0;
        counts.renderbuffers += glIsRenderbuffer(name) ? 1 : 0;
        counts.vertex_arrays += glIsVertexArray(name) ? 1 : 0;
        counts.programs += glIsProgram(name) ? 1 : 0;
        counts.shaders += glIsShader(name) ? 1 : 0;
        if (glIsTransformFeedback)
            counts.transform_feedbacks += glIsTransformFeedback(name) ? 1 : 0;
    }
    return counts;
}

std::string Describe(const GLObjectCounts& c) {
    std::ostringstream out;
    out << "textures " << c.textures << ", buffers " << c.buffers << ", framebuffers "
        << c.framebuffers << ", renderbuffers " << c.renderbuffers << ", vertex arrays "
        << c.vertex_arrays << ", programs " << c.programs << ", shaders " << c.shaders
        << ", transform feedbacks " << c.transform_feedbacks;
    return out.str();
}

namespace {

GLuint CompileTestShader(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        char log[4096] = {};
        glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
        ADD_FAILURE() << "test shader does not compile: " << log;
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

}  // namespace

GLuint BuildTestProgram(const char* vertex_source, const char* fragment_source,
                        const char* feedback_varying) {
    const GLuint vs = CompileTestShader(GL_VERTEX_SHADER, vertex_source);
    const GLuint fs = CompileTestShader(GL_FRAGMENT_SHADER, fragment_source);
    if (!vs || !fs) {
        if (vs) glDeleteShader(vs);
        if (fs) glDeleteShader(fs);
        return 0;
    }
    GLuint program = glCreateProgram();
    glAttachShader(program, vs);
    glAttachShader(program, fs);
    if (feedback_varying) {
        glTransformFeedbackVaryings(program, 1, &feedback_varying, GL_INTERLEAVED_ATTRIBS);
    }
    glLinkProgram(program);
    glDetachShader(program, vs);
    glDetachShader(program, fs);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        char log[4096] = {};
        glGetProgramInfoLog(program, sizeof(log), nullptr, log);
        ADD_FAILURE() << "test program does not link: " << log;
        glDeleteProgram(program);
        return 0;
    }
    return program;
}

}  // namespace vexo_test
