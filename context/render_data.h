// Per-thread render state: every rendering thread owns one context with its own six programs.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>

#include "AE_Effect.h"
#include "context/displace_variants.h"
#include "context/gl_context.h"
#include "gl/kept_targets.h"
#include "gl/program.h"

// Program ids in slot order; 0 means none.
struct GLPrograms {
    uint32_t swizzleInProgram;
    uint32_t displaceProgram;
    uint32_t blurWProgram;
    uint32_t blurHProgram;
    uint32_t bicubicProgram;
    uint32_t oversampleProgram;
};

// One context with its programs. The global data block holds one too, zero-filled.
struct LocalGLStruct {
    GLContextHandle context;
    GLPrograms programs;
    DisplaceVariants displaceVariants;  // made during renders, deleted with the record
    ProgramFailure programsFailure;     // why the set is incomplete, if it is
    KeptTargets keptTargets;            // the last frame's targets, for the next
};

// Needs a current context. A null argument builds nothing. A program one of whose stages does
// not compile or link is reported and leaves 0 in its slot. Returns why the set is incomplete:
// rejected when the driver refused any of the texts (building again cannot help), can pass when
// every failure met a shortage or the context was lost.
ProgramFailure CreateGLPrograms(GLPrograms* programs);
// Whether every slot holds a program: a set that lacks one cannot render a frame.
bool ProgramsComplete(const GLPrograms& programs);
// Test seam: later program sets build `text` as the fragment stage of slot `slot` (0 to 5, in
// GLPrograms order) in place of the embedded one; null restores it. Stands for a driver that
// rejects a shader the module ships.
void ReplaceFragmentShaderForTesting(int slot, const char* text);
// Needs the owning context current. A null argument does nothing.
void DeleteGLPrograms(GLPrograms* programs);

// Releases a thread's record on that thread: programs and context, then the record.
struct tls_ctx_deleter {
    void operator()(LocalGLStruct* record) const;
};

#if defined(_WIN32)
// The calling thread's record, as a plain pointer: mingw-w64 runs a thread_local's destructor on
// storage its emulated TLS has already freed. A fiber-local slot's callback, which is handed the
// record itself, releases it when the thread ends.
struct RenderDataSlot {
    LocalGLStruct* record;
    LocalGLStruct* get() const { return record; }
    LocalGLStruct* operator->() const { return record; }
    explicit operator bool() const { return record != nullptr; }
    // Releases the record held, if any, and holds `next`.
    void reset(LocalGLStruct* next = nullptr);
};
extern thread_local RenderDataSlot local_render_data;
#else
extern thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;
#endif

// Deletes the contexts that ended threads left behind where their end could not (Windows); the
// next thread to render and global setdown call it. Leaves the caller's current context.
void DeleteContextsOfEndedThreads();

// Held by the smart render around all GL work of every thread; taken before tls_mutex.
extern std::recursive_mutex globalMutex;

// Makes the calling thread's record (creating it on first use) current. Reads only the global
// data handle of `in_data`. A context that could not be made (the thread's, or the global one at
// setup) is tried again: on each of the next kContextCreationTries calls, then once in
// kFramesPerContextRetry calls for as long as it keeps failing. A failure can pass (a driver
// restarting after a reset, a display change); a session must not lose the effect for it.
void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* out_data);
// The same with the global record itself; a null record makes no context.
void InitThreadLocalRenderData(LocalGLStruct* global_record);
// The global record that `in_data`'s global data handle holds, or null.
LocalGLStruct* GlobalRenderRecord(PF_InData* in_data);

constexpr int kContextCreationTries = 3;
constexpr int kFramesPerContextRetry = 30;
// True when the calling thread's creations have failed often enough that it now tries only once
// in kFramesPerContextRetry calls.
bool ContextCreationWaiting();

// Makes the global record's context and programs, as global setup does, leaving the caller's
// current context as it was. False when no context could be made.
bool MakeGlobalRecord(LocalGLStruct* block);

// After a frame: when the thread's context was lost (a GPU reset), releases its record so that
// the next call of InitThreadLocalRenderData builds a fresh context and programs, and returns
// true. The frame's pixels are then undefined.
bool ReleaseLostRenderData();

// Releases the calling thread's record (programs, variants, context) and forgets the errors its
// context left behind, so that the next InitThreadLocalRenderData builds everything again.
void ReleaseRenderData();
