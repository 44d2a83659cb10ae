#include "context/render_data.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <GL/glew.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <utility>

#include "gl/diagnostics.h"
#include "gl/gl_errors.h"
#include "gl/program.h"
#include "shaders/shaders.h"

namespace {

uint64_t Word(const char* text) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text)); }

// Each slot's stages and name, in slot order.
struct ProgramSource {
    uint32_t GLPrograms::*slot;
    const char* name;
    const char* const* vertex;
    const char* const* fragment;
};
const ProgramSource kProgramSources[] = {
    {&GLPrograms::swizzleInProgram, "swizzleIn", &vert, &swizzleIn},
    {&GLPrograms::displaceProgram, "displace", &vertIdentity, &displace},
    {&GLPrograms::blurWProgram, "blurW", &vertIdentity, &blurW},
    {&GLPrograms::blurHProgram, "blurH", &vertIdentity, &blurH},
    {&GLPrograms::bicubicProgram, "bicubic", &vertIdentity, &bicubic},
    {&GLPrograms::oversampleProgram, "oversample", &vertIdentity, &oversample},
};
constexpr int kProgramSlots = int(sizeof kProgramSources / sizeof kProgramSources[0]);

std::atomic<const char*> g_replaced_fragments[kProgramSlots] = {};

}  // namespace

ProgramFailure CreateGLPrograms(GLPrograms* programs) {
    if (!programs) return kProgramBuilt;
    std::string failed;
    ProgramFailure set_failure = kProgramBuilt;
    for (int i = 0; i < kProgramSlots; ++i) {
        const ProgramSource& source = kProgramSources[i];
        const char* replaced = g_replaced_fragments[i];
        const uint64_t stages[] = {GL_VERTEX_SHADER, Word(*source.vertex), GL_FRAGMENT_SHADER,
                                   Word(replaced ? replaced : *source.fragment), 0};
        // Every text carries its own version line.
        ProgramFailure why = kProgramBuilt;
        programs->*source.slot = CreateCompleteProgram(stages, "", &why);
        if (!(programs->*source.slot))
            failed += std::string(failed.empty() ? "" : ", ") + source.name;
        // One text the driver refuses keeps the set incomplete however often it is built.
        if (why == kProgramRejected || set_failure == kProgramBuilt) set_failure = why;
    }
    if (failed.empty()) return kProgramBuilt;
    Diagnostic("VEXO: GL programs that failed to build: %s\n", failed.c_str());
    // A lost context refuses every text, the good ones too: its verdicts do not stand.
    if (TakeGLContextLost()) set_failure = kProgramCanPass;
    return set_failure;
}

bool ProgramsComplete(const GLPrograms& programs) {
    for (const ProgramSource& source : kProgramSources) {
        if (!(programs.*source.slot)) return false;
    }
    return true;
}

void ReplaceFragmentShaderForTesting(int slot, const char* text) {
    if (slot >= 0 && slot < kProgramSlots) g_replaced_fragments[slot] = text;
}

void DeleteGLPrograms(GLPrograms* programs) {
    if (!programs) return;
    for (const ProgramSource& source : kProgramSources) DeleteProgram(&(programs->*source.slot));
}

#if defined(_WIN32)
namespace {
// Contexts of ended threads, for a live thread to delete. Nothing here has a destructor: the
// main thread's record may end after the module's statics have.
struct EndedContext {
    GLContextHandle context;
    EndedContext* next;
};
std::mutex g_ended_mutex;
EndedContext* g_ended_contexts = nullptr;
}  // namespace
#endif

void DeleteContextsOfEndedThreads() {
#if defined(_WIN32)
    EndedContext* ended = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_ended_mutex);
        std::swap(ended, g_ended_contexts);
    }
    while (ended) {
        EndedContext* next = ended->next;
        DeleteContextOfEndedThread(ended->context);
        delete ended;
        ended = next;
    }
#endif
}

namespace {

// Releases a record on its own thread. `thread_ending` (Windows only): the thread is ending, which
// is no place for the window manager (its detach notifications may have run, and the loader's
// lock may be held), so the context, no longer current, waits for a live thread, and the system
// destroys the thread's window itself.
void ReleaseRecord(LocalGLStruct* record, bool thread_ending) {
    if (record && record->context) {
        SetCurrentContext(record->context);
        // Where ours cannot be made current (a host's context of another API holds the thread),
        // the names would be deleted in whatever context is: only ours goes, and its objects
        // with it.
        if (IsContextCurrent(record->context)) {
            DeleteGLPrograms(&record->programs);
            DeleteDisplaceVariants(&record->displaceVariants);
            DeleteKeptTargets(&record->keptTargets);
        } else {
            ForgetKeptTargets(&record->keptTargets);
        }
#if defined(_WIN32)
        if (thread_ending) {
            SetCurrentContext(nullptr);
            std::lock_guard<std::mutex> lock(g_ended_mutex);
            // Short of memory, the context is left to the process's end.
            if (auto* ended = new (std::nothrow) EndedContext{record->context, g_ended_contexts})
                g_ended_contexts = ended;
        } else {
            DeleteContext(record->context);
        }
#else
        (void)thread_ending;
        DeleteContext(record->context);
#endif
        record->context = nullptr;
    }
    delete record;
}

}  // namespace

void tls_ctx_deleter::operator()(LocalGLStruct* record) const { ReleaseRecord(record, false); }

#if defined(_WIN32)
namespace {

std::atomic<bool> g_module_ending{false};

void WINAPI ReleaseEndingThreadsRecord(void* record) {
    // Freeing the slot hands every thread's record to the unloading thread, which owns none of
    // their contexts: those records go with the module.
    if (!g_module_ending) ReleaseRecord(static_cast<LocalGLStruct*>(record), true);
}

// Freed as the module unloads, so that no thread's end calls into unmapped code.
struct RecordSlotOwner {
    DWORD slot = FlsAlloc(ReleaseEndingThreadsRecord);
    ~RecordSlotOwner() {
        g_module_ending = true;
        if (slot != FLS_OUT_OF_INDEXES) FlsFree(slot);
    }
};

DWORD RecordSlot() {
    static RecordSlotOwner owner;
    return owner.slot;
}

}  // namespace

void RenderDataSlot::reset(LocalGLStruct* next) {
    LocalGLStruct* previous = record;
    record = next;
    const DWORD slot = RecordSlot();
    // Without a slot the record is released by the next reset on this thread, or never.
    if (slot != FLS_OUT_OF_INDEXES) FlsSetValue(slot, next);
    tls_ctx_deleter()(previous);
}

thread_local RenderDataSlot local_render_data = {nullptr};
#else
// A thread_local with a non-trivial destructor: the C++ runtime runs it on the exiting thread
// (for the main thread, at exit() before static destructors and before the GL libraries unload),
// which is where the record's context can be made current and torn down.
thread_local std::unique_ptr<LocalGLStruct, tls_ctx_deleter> local_render_data;
#endif

std::recursive_mutex globalMutex;

namespace {

// Creations that failed in a row on this thread, and the calls since its last try once it only
// tries now and then.
thread_local int t_failed_creations = 0;
thread_local int t_calls_waited = 0;

bool TryCreationNow() {
    if (t_failed_creations < kContextCreationTries) return true;
    if (++t_calls_waited < kFramesPerContextRetry) return false;
    t_calls_waited = 0;
    return true;
}

void CountCreation(bool made) {
    t_failed_creations = made ? 0 : t_failed_creations + 1;
    t_calls_waited = 0;
}

void MakeContextAndPrograms(LocalGLStruct* record) {
    record->context = CreateContext(nullptr);
    CountCreation(record->context != nullptr);
    if (!record->context) return;
    SetCurrentContext(record->context);
    record->programsFailure = CreateGLPrograms(&record->programs);
}

}  // namespace

bool MakeGlobalRecord(LocalGLStruct* block) {
    const GLContextHandle saved = GetCurrentContext();
    const GLContextHandle context = CreateContext();
    if (IsContextValid(context)) {
        block->context = context;
        SetCurrentContext(context);
        CreateGLPrograms(&block->programs);
    }
    SetCurrentContext(saved);
    return block->context != nullptr;
}

LocalGLStruct* GlobalRenderRecord(PF_InData* in_data) {
    PF_Handle global = in_data ? in_data->global_data : nullptr;
    return global ? static_cast<LocalGLStruct*>(static_cast<void*>(*global)) : nullptr;
}

void InitThreadLocalRenderData(PF_InData* in_data, PF_OutData* /*out_data*/) {
    InitThreadLocalRenderData(GlobalRenderRecord(in_data));
}

void InitThreadLocalRenderData(LocalGLStruct* block) {
    static std::mutex tls_mutex;
    std::lock_guard<std::mutex> lock(tls_mutex);
    DeleteContextsOfEndedThreads();

    if (local_render_data) {
        if (!local_render_data->context && TryCreationNow()) {
            MakeContextAndPrograms(local_render_data.get());
        }
        // A context-less record makes no context current, which is what its thread needs.
        SetCurrentContext(local_render_data->context);
        return;
    }

    // Threads get a context once the global record proves one can be made; where global setup
    // could not, the threads make that proof again.
    if (!block) return;
    if (!block->context) {
        if (!TryCreationNow()) return;
        CountCreation(MakeGlobalRecord(block));
        if (!block->context) return;
    }

    local_render_data.reset(new LocalGLStruct{});
    MakeContextAndPrograms(local_render_data.get());
}

bool ContextCreationWaiting() { return t_failed_creations >= kContextCreationTries; }

bool ReleaseLostRenderData() {
    if (!local_render_data || !local_render_data->context) return false;
    if (!TakeGLContextLost()) return false;
    // Its programs and objects went with the reset; deleting them is harmless, and the context
    // itself must go so that the next frame makes a fresh one.
    ReleaseRenderData();
    return true;
}

void ReleaseRenderData() {
    if (local_render_data && local_render_data->context) {
        // The flags belong to this context; left set, they would fail the fresh one's first frame.
        SetCurrentContext(local_render_data->context);
        TakeGLOutOfMemory();
        TakeGLContextLost();
    }
    local_render_data.reset();
}
