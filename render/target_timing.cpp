#include "render/target_timing.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Below this much storage a frame's timing says little.
constexpr int64_t kJudgedBytes = int64_t(64) << 20;
// Bytes of target storage made per second below which the hint is printed. On llvmpipe, which
// zeroes new storage, a fresh 4K float target is made at about 0.2 GB/s with 4 KiB pages and at
// about 10 GB/s with huge pages; a GPU driver does not touch the storage when it is made.
constexpr double kSlowRate = 2.5e9;

std::atomic<bool> g_hinted{false};

}  // namespace

TimedAllocation::TimedAllocation(TargetTiming* timing, int64_t bytes)
    : timing(timing), bytes(bytes), start(std::chrono::steady_clock::now()) {}

TimedAllocation::~TimedAllocation() {
    timing->bytes += bytes;
    timing->seconds +=
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool TargetsSlowToMake(const TargetTiming& timing) {
    return timing.bytes >= kJudgedBytes && double(timing.bytes) < kSlowRate * timing.seconds;
}

bool HintSlowTargets(const TargetTiming& timing, bool huge_pages_requested) {
    if (huge_pages_requested || !TargetsSlowToMake(timing)) return false;
    if (g_hinted.exchange(true)) return false;
    std::fprintf(stderr,
                 "VEXO: making this frame's render targets took %.0f ms for %.0f MiB; start the "
                 "host with GLIBC_TUNABLES=glibc.malloc.hugetlb=1 in its environment for huge "
                 "pages, which make them several times faster\n",
                 timing.seconds * 1e3, double(timing.bytes) / double(1 << 20));
    return true;
}

bool MallocHugePagesRequested() {
    const char* tunables = std::getenv("GLIBC_TUNABLES");
    if (!tunables) return false;
    // The last setting of the tunable wins.
    const char* name = "glibc.malloc.hugetlb=";
    const char* value = nullptr;
    for (const char* at = std::strstr(tunables, name); at; at = std::strstr(at + 1, name)) {
        if (at == tunables || at[-1] == ':') value = at + std::strlen(name);
    }
    return value && (value[0] == '1' || value[0] == '2') && (value[1] == '\0' || value[1] == ':');
}
