// The module's own threads, for plug-in APIs whose hosts call from threads that draw with GL
// themselves or end while the GL libraries tear down: every GL call of the effect runs on one of
// these, so that no host thread ever holds a context or per-thread GL state of ours. Each module
// that links this has threads of its own.
#pragma once

// Runs `run(argument)`, which must not throw, on one of the module's threads and returns when it
// is done. At most kMaxModuleThreads run at once; a caller beyond waits for one. Throws when no
// thread can be started and none is there to wait for.
void RunOnModuleThread(void (*run)(void*), void* argument);

template <typename F>
void RunOnModuleThread(F& task) {
    RunOnModuleThread([](void* f) { (*static_cast<F*>(f))(); }, &task);
}

// Enough to let a host's threads convert frames while another renders; the effect's GL work is
// serialised anyway.
constexpr int kMaxModuleThreads = 4;

// Ends every thread once none is busy: each releases its context, programs and kept targets on
// itself as it ends. Later calls start fresh ones. Never called on a module thread.
void RetireModuleThreads();

// Held shared by every entry point for its whole call and exclusively across fork(), so that a
// child never inherits a lock or a render half done. Nothing where there is no fork().
struct ForkGate {
    ForkGate();
    ~ForkGate();
    ForkGate(const ForkGate&) = delete;
    ForkGate& operator=(const ForkGate&) = delete;
};

// Registers the fork handlers once. In a forked child the threads are forgotten (they are the
// parent's) and `in_child`, if any, runs: the module marks there what the parent loaded.
void WatchForks(void (*in_child)() = nullptr);
