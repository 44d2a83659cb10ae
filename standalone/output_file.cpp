#include "standalone/output_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
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

// The machine's name as a file name takes it: farm nodes share folders, and their process ids
// repeat.
std::string HostName() {
    char name[256] = {};
#if defined(_WIN32)
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) name[0] = 0;
#else
    if (gethostname(name, sizeof name - 1) != 0) name[0] = 0;
#endif
    std::string safe;
    for (const char* c = name; *c && safe.size() < 64; ++c) {
        const bool plain = (*c >= 'a' && *c <= 'z') || (*c >= 'A' && *c <= 'Z') ||
                           (*c >= '0' && *c <= '9') || *c == '-';
        safe += plain ? *c : '_';
    }
    return safe.empty() ? "host" : safe;
}

// Sixteen hex digits from the system's random source, not from the clock: tasks started at one
// instant on two nodes draw apart.
std::string RandomHex() {
    uint64_t bits = 0;
    try {
        std::random_device device;
        bits = (uint64_t(device()) << 32) ^ device();
    } catch (const std::exception&) {
        // No random source: the clock and this call's count still set tries apart.
        static std::atomic<uint64_t> calls{0};
        const uint64_t now = uint64_t(std::chrono::steady_clock::now().time_since_epoch().count());
        bits = (now * 0x9E3779B97F4A7C15ull) ^ ++calls;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(bits));
    return text;
}

#if defined(_WIN32)
// Windows links need privileges to make and are rare; the name itself is replaced.
bool FollowLinks(const std::string& path, std::string* target, std::string*) {
    *target = path;
    return true;
}
#else
// The name the output's file goes under: `path` with its symbolic links followed, each relative
// one from the folder of the link, as the system would. Replacing that name instead of the link
// keeps the link a link. False, with the cause in `why`, for a chain that never ends.
bool FollowLinks(const std::string& path, std::string* target, std::string* why) {
    std::string at = path;
    // The system's own limit on links in a row (Linux's MAXSYMLINKS).
    for (int hops = 0; hops <= 40; ++hops) {
        struct stat st;
        if (lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        std::vector<char> text(std::max<std::size_t>(std::size_t(st.st_size) + 1, 256));
        ssize_t n;
        while ((n = readlink(at.c_str(), text.data(), text.size())) >= 0 &&
               std::size_t(n) == text.size()) {
            text.resize(text.size() * 2);
        }
        if (n <= 0) break;  // gone since: whatever is there now is what gets written
        const std::string link(text.data(), std::size_t(n));
        const std::size_t slash = at.rfind('/');
        if (link[0] == '/' || slash == std::string::npos) {
            at = link;
        } else {
            at = at.substr(0, slash + 1) + link;
        }
        if (hops == 40) {
            *why = std::strerror(ELOOP);
            return false;
        }
    }
    *target = at;
    return true;
}

// Until the data is on the disk, a crash after the rename could leave an empty file in place.
bool Sync(const std::string& path, std::string* why) {
    const int fd = open(path.c_str(), O_RDONLY);
    const bool ok = fd >= 0 && fsync(fd) == 0;
    if (!ok && why->empty()) *why = std::strerror(errno);
    if (fd >= 0) close(fd);
    return ok;
}

// The rename itself lasts only once the folder is on the disk too; the picture is in place
// either way, so a folder that cannot be synced is no failure.
void SyncFolderOf(const std::string& path) {
    const int fd = open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return;
    if (fsync(fd) != 0) {
        // Some file systems do not sync folders (EINVAL); nothing more can be done.
    }
    close(fd);
}
#endif

}  // namespace

std::FILE* CreateTemporaryBeside(const std::string& path, std::string* temp, std::string* why) {
    // The extension is the name's the user gave, the folder the target's: rename() moves files
    // within one file system only.
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    const bool has_ext = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    std::string target, loop;
    if (!FollowLinks(path, &target, &loop)) target = path;
    const std::size_t target_slash = target.find_last_of("/\\");
    const std::string dir =
        target_slash == std::string::npos ? "" : target.substr(0, target_slash + 1);
#if defined(_WIN32)
    const long process = long(GetCurrentProcessId());
#else
    const long process = long(getpid());
#endif
    const std::string stem = dir + ".vexorant-" + HostName() + "-" + std::to_string(process) + "-";
    const std::string ext = has_ext ? path.substr(dot) : "";
    // Another name is taken only by a writer with this host name and process id that drew the
    // same 64 random bits: a few tries rule out all but a broken random source.
    for (int tries = 0; tries < 8; ++tries) {
        const std::string name = stem + RandomHex() + ext;
#if defined(_WIN32)
        // _O_EXCL is CreateFile's CREATE_NEW.
        const int fd =
            _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
#endif
        if (fd < 0) {
            if (errno == EEXIST) continue;
            *why = std::strerror(errno);
            return nullptr;
        }
#if defined(_WIN32)
        std::FILE* file = _fdopen(fd, "wb");
#else
        std::FILE* file = fdopen(fd, "wb");
#endif
        if (!file) {
            *why = std::strerror(errno);
#if defined(_WIN32)
            _close(fd);
#else
            close(fd);
#endif
            std::remove(name.c_str());
            return nullptr;
        }
        *temp = name;
        return file;
    }
    *why = std::strerror(EEXIST);
    return nullptr;
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
    std::string target;
    if (written && !FollowLinks(path, &target, why)) written = false;
#if defined(_WIN32)
    if (written) {
        // rename() refuses an existing target on Windows; write-through returns once the data
        // is on the disk.
        if (MoveFileExA(temp.c_str(), target.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
            return true;
        }
        if (why->empty()) *why = "cannot move the finished file into place";
    }
#else
    struct stat old;
    if (written && !Sync(temp, why)) written = false;
    if (written && stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        // The new file takes the old one's place with its owner, where this process may give
        // it, and its permissions: a private file stays private.
        if (chown(temp.c_str(), old.st_uid, old.st_gid) != 0) {
            // Not ours to give away: the file becomes this user's, with the old permissions.
        }
        if (chmod(temp.c_str(), old.st_mode & 07777) != 0) {
            if (why->empty()) *why = std::strerror(errno);
            written = false;
        }
    }
    if (written) {
        // Atomic: the target's name shows the old file or the new one, never a part of either.
        if (std::rename(temp.c_str(), target.c_str()) == 0) {
            SyncFolderOf(target);
            return true;
        }
        if (why->empty()) *why = std::strerror(errno);
    }
#endif
    std::remove(temp.c_str());
    return false;
}

std::string OutputPathProblem(const std::string& path) {
    if (path.empty()) return "no file name";
    std::string target, loop;
    if (!FollowLinks(path, &target, &loop)) return loop;
    if (IsFolder(target)) return "it is a folder";
    const std::string folder = FolderOf(target);
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) {
        return errno == ENOENT ? "folder '" + folder + "' does not exist"
                               : "folder '" + folder + "': " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) return "'" + folder + "' is not a folder";
    const std::string read_only = ReadOnlyProblem(target);
    if (!read_only.empty()) return read_only;
    std::string probe, why;
    std::FILE* f = CreateTemporaryBeside(path, &probe, &why);
    if (!f) return "cannot make a file in folder '" + folder + "': " + why;
    std::fclose(f);
    std::remove(probe.c_str());
    return "";
}

std::string ReadOnlyProblem(const std::string& path) {
#if defined(_WIN32)
    // MoveFileEx refuses to replace a read-only file, but only once the frame is rendered.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return "";
    }
    return "the file is read-only";
#else
    // rename() asks only the folder: a file its user may not write would go all the same.
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
    if (access(path.c_str(), W_OK) == 0 || errno != EACCES) return "";
    return (st.st_mode & 0222) == 0 ? "the file is read-only"
                                    : "the file is read-only to this user";
#endif
}

std::string DiskRefusal(const std::string& file) {
    static const char block[64 * 1024] = {};
#if !defined(_WIN32)
    // Past a file-size limit the system ends the process instead (SIGXFSZ).
    struct stat st;
    struct rlimit limit;
    if (stat(file.c_str(), &st) == 0 && getrlimit(RLIMIT_FSIZE, &limit) == 0 &&
        limit.rlim_cur != RLIM_INFINITY && uint64_t(st.st_size) + sizeof block > limit.rlim_cur) {
        return std::strerror(EFBIG);
    }
#endif
    std::FILE* f = std::fopen(file.c_str(), "ab");
    if (!f) return std::strerror(errno);
    errno = 0;
    bool ok = std::fwrite(block, 1, sizeof block, f) == sizeof block && std::fflush(f) == 0;
#if defined(_WIN32)
    ok = ok && _commit(_fileno(f)) == 0;
#else
    ok = ok && fsync(fileno(f)) == 0;
#endif
    const int cause = errno;
    std::fclose(f);
    return ok ? "" : std::strerror(cause ? cause : EIO);
}

std::string CannotWrite(const std::string& path, const std::string& why) {
    const std::string problem = OutputPathProblem(path);
    const std::string cause = problem.empty() ? why : problem;
    return "cannot write " + path + (cause.empty() ? "" : ": " + cause);
}

bool WriteWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::string* error) {
    std::string temp, why;
    std::FILE* f = CreateTemporaryBeside(path, &temp, &why);
    if (!f) {
        *error = CannotWrite(path, why);
        return false;
    }
    bool ok = std::fwrite(data, 1, size, f) == size;
    if (!ok) why = std::strerror(errno);
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        why = std::strerror(errno);
    }
    if (!CommitTemporary(temp, path, ok, &why)) {
        *error = CannotWrite(path, why);
        return false;
    }
    return true;
}

}  // namespace vexo_host
