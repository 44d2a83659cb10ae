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

#if !defined(_WIN32)
// Copies the finished temporary into the existing file `path`, in place.
bool CopyInto(const std::string& temp, const std::string& path, std::string* why) {
    FILE* from = std::fopen(temp.c_str(), "rb");
    FILE* to = from ? std::fopen(path.c_str(), "wb") : nullptr;
    bool ok = from && to;
    char buf[1 << 16];
    while (ok) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, from);
        if (n == 0) {
            ok = !std::ferror(from);
            break;
        }
        ok = std::fwrite(buf, 1, n, to) == n;
    }
    if (!ok && why->empty()) *why = std::strerror(errno);
    if (to && std::fclose(to) != 0 && ok) {
        ok = false;
        if (why->empty()) *why = std::strerror(errno);
    }
    if (from) std::fclose(from);
    return ok;
}
#endif

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

bool IdentifyFile(const std::string& path, FileId* id) {
#if defined(_WIN32)
    HANDLE h = CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok) return false;
    id->volume = info.dwVolumeSerialNumber;
    id->index = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    id->volume = uint64_t(st.st_dev);
    id->index = uint64_t(st.st_ino);
    return true;
#endif
}

bool SameFile(const std::string& a, const std::string& b) {
    FileId x, y;
    return IdentifyFile(a, &x) && IdentifyFile(b, &y) && !(x < y) && !(y < x);
}

bool CommitTemporary(const std::string& temp, const std::string& path, bool written,
                     std::string* why) {
#if !defined(_WIN32)
    struct stat old, link;
    if (written && stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        if (old.st_nlink > 1 || (lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode))) {
            const bool copied = CopyInto(temp, path, why);
            std::remove(temp.c_str());
            return copied;
        }
        // The new file takes the old one's place with its owner, where this process may give
        // it, and its permissions: a private file stays private.
        if (chown(temp.c_str(), old.st_uid, old.st_gid) != 0) {
            // Not ours to give away: the file becomes this user's, with the old permissions.
        }
        if (chmod(temp.c_str(), old.st_mode & 07777) != 0) {
            if (why->empty()) *why = std::strerror(errno);
            std::remove(temp.c_str());
            return false;
        }
    }
#endif
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
