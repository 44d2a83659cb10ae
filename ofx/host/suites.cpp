// The suites with no checks of their own: memory, threads, messages, progress, timeline; and the
// table fetchSuite answers from.
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <mutex>
#include <thread>

#include "ofxMemory.h"
#include "ofxMessage.h"
#include "ofxMultiThread.h"
#include "ofxProgress.h"
#include "ofxTimeLine.h"
#include "session.h"

namespace vexo::ofxhost {
namespace {

thread_local Scope* t_scope = nullptr;
thread_local unsigned t_thread_index = 0;
thread_local bool t_spawned = false;

OfxStatus MemoryAlloc(void*, size_t bytes, void** data) {
    if (data == nullptr) return kOfxStatErrBadHandle;
    *data = std::malloc(bytes != 0 ? bytes : 1);
    return *data != nullptr ? kOfxStatOK : kOfxStatErrMemory;
}

OfxStatus MemoryFree(void* data) {
    std::free(data);
    return kOfxStatOK;
}

const OfxMemorySuiteV1 kMemory = {MemoryAlloc, MemoryFree};

// Spawned threads work inside the action that spawned them.
OfxStatus MultiThread(OfxThreadFunctionV1* function, unsigned count, void* arg) {
    if (function == nullptr) return kOfxStatErrBadHandle;
    if (count <= 1) {
        function(0, 1, arg);
        return kOfxStatOK;
    }
    Scope* scope = t_scope;
    std::vector<std::thread> threads;
    for (unsigned i = 0; i < count; ++i) {
        threads.emplace_back([=] {
            t_scope = scope;
            t_thread_index = i;
            t_spawned = true;
            function(i, count, arg);
        });
    }
    for (std::thread& thread : threads) thread.join();
    return kOfxStatOK;
}

OfxStatus NumCPUs(unsigned* count) {
    if (count == nullptr) return kOfxStatErrBadHandle;
    *count = std::max(1u, std::thread::hardware_concurrency());
    return kOfxStatOK;
}

OfxStatus ThreadIndex(unsigned* index) {
    if (index == nullptr) return kOfxStatErrBadHandle;
    *index = t_thread_index;
    return kOfxStatOK;
}

int IsSpawnedThread() { return t_spawned ? 1 : 0; }

OfxStatus MutexCreate(OfxMutexHandle* mutex, int lock_count) {
    if (mutex == nullptr) return kOfxStatErrBadHandle;
    auto* created = new std::recursive_mutex;
    for (int i = 0; i < lock_count; ++i) created->lock();
    *mutex = reinterpret_cast<OfxMutexHandle>(created);
    return kOfxStatOK;
}

std::recursive_mutex* AsMutex(OfxMutexHandle mutex) {
    return reinterpret_cast<std::recursive_mutex*>(mutex);
}

OfxStatus MutexDestroy(const OfxMutexHandle mutex) {
    delete AsMutex(mutex);
    return kOfxStatOK;
}

OfxStatus MutexLock(const OfxMutexHandle mutex) {
    if (mutex == nullptr) return kOfxStatErrBadHandle;
    AsMutex(mutex)->lock();
    return kOfxStatOK;
}

OfxStatus MutexUnlock(const OfxMutexHandle mutex) {
    if (mutex == nullptr) return kOfxStatErrBadHandle;
    AsMutex(mutex)->unlock();
    return kOfxStatOK;
}

OfxStatus MutexTryLock(const OfxMutexHandle mutex) {
    if (mutex == nullptr) return kOfxStatErrBadHandle;
    return AsMutex(mutex)->try_lock() ? kOfxStatOK : kOfxStatFailed;
}

const OfxMultiThreadSuiteV1 kMultiThread = {MultiThread,     NumCPUs,     ThreadIndex,
                                            IsSpawnedThread, MutexCreate, MutexDestroy,
                                            MutexLock,       MutexUnlock, MutexTryLock};

// Messages are kept on the session of the effect they name; the handle may be an effect
// instance or descriptor, or null.
Log* LogOf(void* handle) {
    auto* effect = static_cast<Effect*>(handle);
    return effect != nullptr && effect->magic == Effect{}.magic ? &effect->session->log : nullptr;
}

OfxStatus Record(void* handle, const char* type, const char* format, va_list args) {
    char text[1024];
    std::vsnprintf(text, sizeof text, format ? format : "", args);
    Log* log = LogOf(handle);
    if (log != nullptr) {
        std::lock_guard<std::mutex> lock(log->mutex);
        log->messages.push_back(std::string(type ? type : "?") + ": " + text);
    }
    return kOfxStatOK;
}

OfxStatus Message(void* handle, const char* type, const char*, const char* format, ...) {
    va_list args;
    va_start(args, format);
    OfxStatus status = Record(handle, type, format, args);
    va_end(args);
    return status;
}

OfxStatus ClearPersistentMessage(void*) { return kOfxStatOK; }

const OfxMessageSuiteV1 kMessageV1 = {Message};
const OfxMessageSuiteV2 kMessageV2 = {Message, Message, ClearPersistentMessage};

OfxStatus ProgressStartV1(void*, const char*) { return kOfxStatOK; }
OfxStatus ProgressStartV2(void*, const char*, const char*) { return kOfxStatOK; }
OfxStatus ProgressUpdate(void*, double) { return kOfxStatOK; }
OfxStatus ProgressEnd(void*) { return kOfxStatOK; }

const OfxProgressSuiteV1 kProgressV1 = {ProgressStartV1, ProgressUpdate, ProgressEnd};
const OfxProgressSuiteV2 kProgressV2 = {ProgressStartV2, ProgressUpdate, ProgressEnd};

OfxStatus GetTime(void* instance, double* time) {
    auto* effect = static_cast<Effect*>(instance);
    if (time == nullptr || effect == nullptr || effect->magic != Effect{}.magic) {
        return kOfxStatErrBadHandle;
    }
    *time = effect->session->time;
    return kOfxStatOK;
}

OfxStatus GotoTime(void*, double) { return kOfxStatOK; }

OfxStatus GetTimeBounds(void* instance, double* first, double* last) {
    double time = 0;
    OfxStatus status = GetTime(instance, &time);
    if (status != kOfxStatOK || first == nullptr || last == nullptr) return kOfxStatErrBadHandle;
    *first = *last = time;
    return kOfxStatOK;
}

const OfxTimeLineSuiteV1 kTimeLine = {GetTime, GotoTime, GetTimeBounds};

struct SuiteRow {
    const char* name;
    int version;
    const void* suite;
};

}  // namespace

Scope* CurrentScope() { return t_scope; }

void SetCurrentScope(Scope* scope) { t_scope = scope; }

const void* FetchSuite(OfxPropertySetHandle, const char* name, int version) {
    const SuiteRow rows[] = {
        {kOfxPropertySuite, 1, PropertySuite()},   {kOfxImageEffectSuite, 1, ImageEffectSuite()},
        {kOfxParameterSuite, 1, ParameterSuite()}, {kOfxMemorySuite, 1, &kMemory},
        {kOfxMultiThreadSuite, 1, &kMultiThread},  {kOfxMessageSuite, 1, &kMessageV1},
        {kOfxMessageSuite, 2, &kMessageV2},        {kOfxProgressSuite, 1, &kProgressV1},
        {kOfxProgressSuite, 2, &kProgressV2},      {kOfxTimeLineSuite, 1, &kTimeLine},
    };
    for (const SuiteRow& row : rows) {
        if (name != nullptr && std::strcmp(name, row.name) == 0 && version == row.version) {
            return row.suite;
        }
    }
    return nullptr;
}

}  // namespace vexo::ofxhost
