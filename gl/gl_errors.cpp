#include "gl/gl_errors.h"

#ifndef GL_CONTEXT_LOST
#define GL_CONTEXT_LOST 0x0507
#endif

namespace {

thread_local bool t_out_of_memory = false;
thread_local bool t_context_lost = false;
thread_local bool t_simulated_loss = false;
thread_local bool t_simulated_out_of_memory = false;

// Only a context that asked for reset notification reports a reset here; the others return
// GL_NO_ERROR and tell of a loss through GL_CONTEXT_LOST alone.
GLenum ResetStatus() {
    if (glGetGraphicsResetStatus != nullptr) return glGetGraphicsResetStatus();
    if (glGetGraphicsResetStatusARB != nullptr) return glGetGraphicsResetStatusARB();
    return GL_NO_ERROR;
}

}  // namespace

GLenum ReadGLError() {
    GLenum error = GL_OUT_OF_MEMORY;
    if (!t_simulated_out_of_memory) error = glGetError();
    t_simulated_out_of_memory = false;
    if (error == GL_OUT_OF_MEMORY) t_out_of_memory = true;
    if (error == GL_CONTEXT_LOST) t_context_lost = true;
    return error;
}

GLenum ReadPendingGLErrors(bool* short_or_lost) {
    // A context keeps several flags, and the out-of-memory one may be behind another; a lost
    // context may keep reporting, so the drain is bounded.
    constexpr int kMaxPendingErrors = 16;
    GLenum first = GL_NO_ERROR;
    for (int i = 0; i < kMaxPendingErrors; ++i) {
        const GLenum error = ReadGLError();
        if (error == GL_NO_ERROR) break;
        if (i == 0) first = error;
        if (short_or_lost && (error == GL_OUT_OF_MEMORY || error == GL_CONTEXT_LOST))
            *short_or_lost = true;
    }
    return first;
}

bool GLOutOfMemorySeen() {
    ReadPendingGLErrors(nullptr);
    return t_out_of_memory;
}

bool TakeGLOutOfMemory() {
    const bool seen = GLOutOfMemorySeen();
    t_out_of_memory = false;
    return seen;
}

bool TakeGLContextLost() {
    ReadPendingGLErrors(nullptr);
    const bool lost = t_context_lost || t_simulated_loss || ResetStatus() != GL_NO_ERROR;
    t_context_lost = false;
    t_simulated_loss = false;
    return lost;
}

void SimulateGLContextLossForTesting() { t_simulated_loss = true; }

void SimulateGLOutOfMemoryForTesting() { t_simulated_out_of_memory = true; }
