// How much memory the process holds, for tests that check that repeated work does not grow it.
#pragma once
#include <cstddef>

namespace vexo_test {

// Bytes the process's allocator has handed out and not had back. Under AddressSanitizer or
// ThreadSanitizer this is the sanitizer's own heap, which the C library cannot see.
std::size_t HeapInUse();

// Under AddressSanitizer, runs its leak check now (memory no longer reachable from anywhere) and
// returns 1 when it found and reported leaks, else 0; -1 in builds without the check.
int CheckForLeaksNow();

// Resident set size in bytes, or 0 where /proc cannot be read. Pages the allocator holds free
// are handed back first: threads' arenas fragment with scheduling, and their free pages are not
// the process's memory.
std::size_t ResidentBytes();
// False under the sanitizers, whose quarantine of freed memory and shadow memory grow the
// resident set by design.
bool ResidentBytesTellLeaks();

}  // namespace vexo_test
