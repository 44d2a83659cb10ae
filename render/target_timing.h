// How fast a frame's render targets are made. Where the GL driver takes texture storage from
// malloc (software rasterizers), every fresh mapping faults in 4 KiB at a time, and making the
// targets can cost more than drawing them; a host process that starts with glibc's
// glibc.malloc.hugetlb=1 tunable gets huge pages instead. The module cannot choose its host's
// allocator, so the first slow frame prints one hint on standard error, once per process.
#pragma once
#include <chrono>
#include <cstdint>

// The making of one frame's targets: storage allocated and the time it took.
struct TargetTiming {
    int64_t bytes = 0;
    double seconds = 0;
};

// Times one target allocation into `timing` for the lifetime of the object.
struct TimedAllocation {
    TimedAllocation(TargetTiming* timing, int64_t bytes);
    ~TimedAllocation();
    TargetTiming* timing;
    int64_t bytes;
    std::chrono::steady_clock::time_point start;
};

// Whether a frame's allocations were slow enough to be worth the hint: enough storage to judge
// by, made at a rate far below what huge pages give.
bool TargetsSlowToMake(const TargetTiming& timing);

// Prints the hint when the frame's targets were slow to make, malloc's huge pages were not asked
// for (`huge_pages_requested`), and no hint has been printed in this process. True when it
// printed.
bool HintSlowTargets(const TargetTiming& timing, bool huge_pages_requested);

// Whether this process's environment asks malloc for huge pages.
bool MallocHugePagesRequested();
