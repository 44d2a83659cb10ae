// Transparent huge pages for malloc. The GL driver takes every render target's storage from
// malloc, and a frame makes and frees its targets anew: blocks that large are fresh mappings
// whose 4 KiB pages each fault on first touch. glibc's tunable glibc.malloc.hugetlb=1 asks the
// kernel for huge pages on those mappings instead, and tunables are read only at start-up, so a
// program that wants it re-executes itself once with the tunable added.
#pragma once
#include <string>

namespace vexo_host {

// The environment variable that turns the re-execution off ("0").
inline constexpr const char* kHugePagesSwitch = "VEXORANT_HUGEPAGES";

// Call first thing in main, before any thread exists. Returns only when the process goes on as
// it is: the tunable already set (by the user or by an earlier start), switched off, or the
// re-execution impossible (no /proc, or /proc/self/exe is another program: the dynamic loader
// the program was started through, or valgrind); otherwise the program starts again with the
// tunable in its environment.
void ReexecWithHugePages(char** argv);

// The GLIBC_TUNABLES value to start with, given the current one (null when unset); empty when
// the current value already names the huge-page tunable, whatever its setting.
std::string TunablesWithHugePages(const char* current);

// Whether this process runs with malloc's huge pages asked for (the tunable set to 1 or 2).
bool HugePagesRequested();

// One line for people: whether huge pages are on and why not.
std::string HugePagesStatus();

}  // namespace vexo_host
