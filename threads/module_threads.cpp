#include "threads/module_threads.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace {

struct Worker {
    std::mutex mutex;
    std::condition_variable changed;
    void (*run)(void*) = nullptr;  // set by a caller with its argument, cleared when done
    void* argument = nullptr;
    bool retire = false;
    std::thread thread;
};

struct Workers {
    std::mutex mutex;
    std::condition_variable freed;
    std::vector<Worker*> idle;
    int made = 0;
};

// Replaced, never destroyed, in a forked child: the parent's threads are not the child's, and a
// lock one of them held would never be let go there.
Workers* g_workers = new Workers;

#if !defined(_WIN32)
pthread_rwlock_t g_fork_gate = PTHREAD_RWLOCK_INITIALIZER;
std::atomic<void (*)()> g_in_child{nullptr};

void LockForFork() { pthread_rwlock_wrlock(&g_fork_gate); }
void UnlockInParent() { pthread_rwlock_unlock(&g_fork_gate); }
void StartAfreshInChild() {
    g_workers = new Workers;
    if (void (*in_child)() = g_in_child.load()) in_child();
    // The lock names the parent's thread as its writer: made anew, not unlocked.
    pthread_rwlock_init(&g_fork_gate, nullptr);
}
#endif

void Park(Worker* w) {
    std::unique_lock<std::mutex> lock(w->mutex);
    for (;;) {
        w->changed.wait(lock, [w] { return w->run != nullptr || w->retire; });
        if (!w->run) return;  // the thread's end releases what the effect left on it
        w->run(w->argument);
        w->run = nullptr;
        w->changed.notify_all();
    }
}

// A parked thread runs this module's code until it is retired. Where the linker cannot mark the
// module never to be unloaded (-z nodelete), it is pinned as the first thread starts, so that a
// host that frees it without the unload action leaves no thread in unmapped code.
void KeepModuleLoaded() {
#if defined(_WIN32)
    static const bool pinned = [] {
        HMODULE self = nullptr;
        return GetModuleHandleExW(
                   GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                   reinterpret_cast<LPCWSTR>(&KeepModuleLoaded), &self) != 0;
    }();
    (void)pinned;
#endif
}

Worker* TakeWorker() {
    Workers& all = *g_workers;
    std::unique_lock<std::mutex> lock(all.mutex);
    for (;;) {
        if (!all.idle.empty()) {
            Worker* w = all.idle.back();
            all.idle.pop_back();
            return w;
        }
        if (all.made < kMaxModuleThreads) {
            KeepModuleLoaded();
            auto* w = new Worker;
            try {
                w->thread = std::thread(Park, w);
            } catch (...) {
                delete w;
                if (all.made == 0) throw;  // none to wait for
                all.freed.wait(lock);
                continue;
            }
            ++all.made;
            return w;
        }
        all.freed.wait(lock);
    }
}

void GiveBack(Worker* w) {
    Workers& all = *g_workers;
    std::lock_guard<std::mutex> lock(all.mutex);
    all.idle.push_back(w);
    all.freed.notify_all();
}

}  // namespace

// Windows has no fork(): no child ever inherits the threads, so there is nothing to gate.
#if defined(_WIN32)
ForkGate::ForkGate() {}
ForkGate::~ForkGate() {}

void WatchForks(void (*)()) {}
#else
ForkGate::ForkGate() { pthread_rwlock_rdlock(&g_fork_gate); }
ForkGate::~ForkGate() { pthread_rwlock_unlock(&g_fork_gate); }

void WatchForks(void (*in_child)()) {
    if (in_child) g_in_child.store(in_child);
    static const int watching = pthread_atfork(LockForFork, UnlockInParent, StartAfreshInChild);
    (void)watching;
}
#endif

void RunOnModuleThread(void (*run)(void*), void* argument) {
    Worker* w = TakeWorker();
    {
        std::unique_lock<std::mutex> lock(w->mutex);
        w->run = run;
        w->argument = argument;
        w->changed.notify_all();
        w->changed.wait(lock, [w] { return w->run == nullptr; });
    }
    GiveBack(w);
}

void RetireModuleThreads() {
    Workers& all = *g_workers;
    std::vector<Worker*> retiring;
    {
        std::unique_lock<std::mutex> lock(all.mutex);
        all.freed.wait(lock, [&] { return int(all.idle.size()) == all.made; });
        retiring.swap(all.idle);
        all.made = 0;
    }
    for (Worker* w : retiring) {
        {
            std::lock_guard<std::mutex> lock(w->mutex);
            w->retire = true;
            w->changed.notify_all();
        }
        w->thread.join();
        delete w;
    }
}
