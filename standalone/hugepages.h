// Whether malloc hands out transparent huge pages: glibc does when the process starts with the
// tunable glibc.malloc.hugetlb=1 (or 2). A user may start a host that way; `vexorant info` says
// whether this process was.
#pragma once
#include <string>

namespace vexo_host {

// Whether this process runs with malloc's huge pages asked for (the tunable set to 1 or 2).
bool HugePagesRequested();

// One line for people: whether huge pages are on and why not.
std::string HugePagesStatus();

}  // namespace vexo_host
