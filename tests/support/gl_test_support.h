// Shared helpers for tests that need a real GL context (Mesa llvmpipe through EGL).
#pragma once
#include <GL/glew.h>

#include <functional>
#include <string>

#include <gtest/gtest.h>

#include "context/gl_context.h"

namespace vexo_test {

// An off-screen context made current for the lifetime of the object. Whatever was current on the
// thread before (a context or none) is current again after destruction.
class ScopedGLContext {
  public:
    ScopedGLContext();
    ~ScopedGLContext();
    ScopedGLContext(const ScopedGLContext&) = delete;
    ScopedGLContext& operator=(const ScopedGLContext&) = delete;

    bool ok() const { return context_ != nullptr; }
    GLContextHandle handle() const { return context_; }

  private:
    GLContextHandle context_ = nullptr;
    GLContextHandle saved_ = nullptr;
};

// A fixture whose tests each run with their own fresh context current; the test fails (and its
// body is skipped) when no context could be made.
class GLTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    GLContextHandle context() const { return gl_ ? gl_->handle() : nullptr; }

  private:
    ScopedGLContext* gl_ = nullptr;
};

// Everything written to the process's standard output (printf or std::cout) while `fn` runs.
// Standard output is flushed before and after, so the text is complete.
std::string CaptureStdout(const std::function<void()>& fn);

// GL objects alive in the current context, found by probing names 1..max_name with glIs*.
// Buffers and vertex arrays count once they have been bound; programs and shaders flagged for
// deletion but still in use count as alive.
struct GLObjectCounts {
    int textures = 0;
    int buffers = 0;
    int framebuffers = 0;
    int renderbuffers = 0;
    int vertex_arrays = 0;
    int programs = 0;
    int shaders = 0;
    int transform_feedbacks = 0;
    int total() const {
        return textures + buffers + framebuffers + renderbuffers + vertex_arrays + programs +
               shaders + transform_feedbacks;
    }
};
GLObjectCounts CountLiveGLObjects(GLuint max_name = 1024);
std::string Describe(const GLObjectCounts& counts);

// Compiles and links a program from a vertex and a fragment text, failing the test (and
// returning 0) with the logs when either step fails. Delete it with glDeleteProgram.
// With `feedback_varying`, that vertex output is captured by transform feedback.
GLuint BuildTestProgram(const char* vertex_source, const char* fragment_source,
                        const char* feedback_varying = nullptr);

}  // namespace vexo_test
