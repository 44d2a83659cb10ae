// A frei0r host that leaves as hosts do at the end of a stream: each of its threads renders a
// frame with an instance of its own and returns while the main thread calls exit(). Whatever
// the module left on those threads is released as they end, inside the GL libraries' own
// teardown. The threads are let go from an exit handler, just before the libraries' destructors
// run, so that each run meets the race a host meets now and then.
//   exit_host MODULE
#include <dlfcn.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

extern "C" {
#include <frei0r.h>
}

namespace {

constexpr int kThreads = 6;
constexpr unsigned kWidth = 32, kHeight = 24;
std::atomic<bool> g_leave{false};

template <typename F>
F Entry(void* lib, const char* name) {
    auto f = reinterpret_cast<F>(dlsym(lib, name));
    if (!f) {
        std::fprintf(stderr, "exit_host: %s is missing\n", name);
        std::exit(2);
    }
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: exit_host MODULE\n");
        return 2;
    }
    void* lib = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        std::fprintf(stderr, "exit_host: %s\n", dlerror());
        return 2;
    }
    const auto init = Entry<int (*)()>(lib, "f0r_init");
    const auto construct = Entry<f0r_instance_t (*)(unsigned, unsigned)>(lib, "f0r_construct");
    const auto update =
        Entry<void (*)(f0r_instance_t, double, const uint32_t*, uint32_t*)>(lib, "f0r_update");
    if (!init()) return 2;

    std::atomic<int> rendered{0};
    for (int t = 0; t < kThreads; ++t) {
        std::thread([&, t] {
            std::vector<uint32_t> in(kWidth * kHeight), out(in.size());
            for (std::size_t i = 0; i < in.size(); ++i) in[i] = uint32_t(i * 2654435761u + t);
            f0r_instance_t instance = construct(kWidth, kHeight);
            update(instance, 0.0, in.data(), out.data());
            ++rendered;
            while (!g_leave) std::this_thread::yield();
        }).detach();
    }
    while (rendered < kThreads) std::this_thread::yield();
    std::atexit([] { g_leave = true; });
    std::exit(0);
}
