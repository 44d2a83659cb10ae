// GL's error flag, read on behalf of the frame. A context keeps one flag and every read clears
// it, so a routine that reads it for its own report would swallow an out-of-memory or a lost
// context that the frame must fail on. Every read in the module goes through ReadGLError, which
// remembers those two for the calling thread (whose context is the one read) until taken.
#pragma once
#include <GL/glew.h>

// glGetError, remembering GL_OUT_OF_MEMORY and GL_CONTEXT_LOST for the calling thread.
GLenum ReadGLError();

// Reads every pending error (a bounded number) and returns the first; `short_or_lost`, when
// given, is set when one of them was GL_OUT_OF_MEMORY or GL_CONTEXT_LOST.
GLenum ReadPendingGLErrors(bool* short_or_lost);

// Reads every pending error; true when GL ran out of memory on this thread since the last
// TakeGLOutOfMemory.
bool GLOutOfMemorySeen();
// The same, and forgets it.
bool TakeGLOutOfMemory();

// Reads every pending error and the reset status of the current context; true when the context
// was lost (a GPU reset) since the last call. Forgets it.
bool TakeGLContextLost();

// Test seam: the calling thread's next TakeGLContextLost reports a loss.
void SimulateGLContextLossForTesting();
// Test seam: the calling thread's next ReadGLError reports GL_OUT_OF_MEMORY, as a driver short of
// memory for a moment would.
void SimulateGLOutOfMemoryForTesting();
