#include "standalone/output_file.h"

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vexo_host {

std::string TemporaryBeside(const std::string& path, const void* writer) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
#if defined(_WIN32)
    const long process = long(GetCurrentProcessId());
#else
    const long process = long(getpid());
#endif
    return dir + ".vexorant-" + std::to_string(process) + "-" +
           std::to_string(reinterpret_cast<std::uintptr_t>(writer)) +
           (has_ext ? path.substr(dot) : "");
}

bool CommitTemporary(const std::string& temp, const std::string& path, bool written,
                     std::string* why) {
    if (written) {
#if defined(_WIN32)
        // rename() refuses an existing target on Windows.
        const bool moved = MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
#else
        const bool moved = std::rename(temp.c_str(), path.c_str()) == 0;
#endif
        if (moved) return true;
        *why = "cannot rename into place";
    }
    std::remove(temp.c_str());
    return false;
}

}  // namespace vexo_host
