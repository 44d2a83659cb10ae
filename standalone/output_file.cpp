#include "standalone/output_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vexo_host {
namespace {

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

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
        const std::string cause = "cannot move the finished file into place";
#else
        const bool moved = std::rename(temp.c_str(), path.c_str()) == 0;
        const std::string cause = std::strerror(errno);
#endif
        if (moved) return true;
        if (why->empty()) *why = cause;
    }
    std::remove(temp.c_str());
    return false;
}

std::string OutputPathProblem(const std::string& path) {
    if (path.empty()) return "no file name";
    if (IsFolder(path)) return "it is a folder";
    const std::string folder = FolderOf(path);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) {
        return errno == ENOENT ? "folder '" + folder + "' does not exist"
                               : "folder '" + folder + "': " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) return "'" + folder + "' is not a folder";
    static const char probe_owner = 0;
    const std::string probe = TemporaryBeside(path, &probe_owner);
    FILE* f = std::fopen(probe.c_str(), "wb");
    if (!f) return "cannot make a file in folder '" + folder + "': " + std::strerror(errno);
    std::fclose(f);
    std::remove(probe.c_str());
    return "";
}

std::string CannotWrite(const std::string& path, const std::string& why) {
    const std::string problem = OutputPathProblem(path);
    const std::string cause = problem.empty() ? why : problem;
    return "cannot write " + path + (cause.empty() ? "" : ": " + cause);
}

bool WriteWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::string* error) {
    const std::string temp = TemporaryBeside(path, data);
    std::string why;
    bool ok = false;
    if (FILE* f = std::fopen(temp.c_str(), "wb")) {
        ok = std::fwrite(data, 1, size, f) == size;
        if (!ok) why = std::strerror(errno);
        if (std::fclose(f) != 0 && ok) {
            ok = false;
            why = std::strerror(errno);
        }
    } else {
        why = std::strerror(errno);
    }
    if (!CommitTemporary(temp, path, ok, &why)) {
        *error = CannotWrite(path, why);
        return false;
    }
    return true;
}

}  // namespace vexo_host
