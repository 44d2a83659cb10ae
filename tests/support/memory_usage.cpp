#include "tests/support/memory_usage.h"

#include <malloc.h>
#include <unistd.h>

#include <cstdio>

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define VEXO_SANITIZER_HEAP 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define VEXO_SANITIZER_HEAP 1
#endif

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEXO_LEAK_CHECK 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VEXO_LEAK_CHECK 1
#endif

#if defined(VEXO_LEAK_CHECK)
#include <sanitizer/lsan_interface.h>
#endif
#if defined(VEXO_SANITIZER_HEAP)
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace vexo_test {

std::size_t HeapInUse() {
#if defined(VEXO_SANITIZER_HEAP)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
#endif
}

int CheckForLeaksNow() {
#if defined(VEXO_LEAK_CHECK)
    return __lsan_do_recoverable_leak_check() ? 1 : 0;
#else
    return -1;
#endif
}

std::size_t ResidentBytes() {
#if !defined(VEXO_SANITIZER_HEAP)
    malloc_trim(0);
#endif
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm) return 0;
    unsigned long size = 0, resident = 0;
    const int read = std::fscanf(statm, "%lu %lu", &size, &resident);
    std::fclose(statm);
    return read == 2 ? resident * std::size_t(sysconf(_SC_PAGESIZE)) : 0;
}

bool ResidentBytesTellLeaks() {
#if defined(VEXO_SANITIZER_HEAP)
    return false;
#else
    return true;
#endif
}

}  // namespace vexo_test
