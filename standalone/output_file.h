// Output files are written under a temporary name beside their final one, put on the disk and
// moved into place only once complete, so a failed write leaves the old file as it was.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vexo_host {

// A new hidden file in the folder of the file the output leads to (symbolic links followed),
// created there exclusively: its name (host name, process id and a random part) is no other
// process's, on this machine or on another that shares the folder, and a file already at a name
// tried is left alone. Keeps the extension of `path` (image writers choose the format by it).
// Returns it open for writing, its name in `temp`; null, with the cause in `why`, when no file
// could be made.
std::FILE* CreateTemporaryBeside(const std::string& path, std::string* temp, std::string* why);

// When `written`, puts the temporary on the disk and renames it over the file `path` leads to:
// a symbolic link stays a link and shows the new file; other hard links of an old file keep the
// old one. A file already there keeps its permissions. Whatever failed, the temporary is
// removed and the old file is as it was. Returns whether the output is in place; otherwise
// `why` says what failed, when it is not already set.
bool CommitTemporary(const std::string& temp, const std::string& path, bool written,
                     std::string* why);

// Which file a name leads to, so that two names of one file (a link, "./a" and "a") are told
// apart from two files.
struct FileId {
    uint64_t volume = 0, index = 0;
    bool operator<(const FileId& o) const {
        return volume != o.volume ? volume < o.volume : index < o.index;
    }
};

// False when `path` names no file (or it cannot be examined).
bool IdentifyFile(const std::string& path, FileId* id);

// Whether both names lead to one existing file.
bool SameFile(const std::string& a, const std::string& b);

// What stands in the way of writing `path`, in the user's terms ("" when nothing does): the
// path is a folder, its folder is missing or is a file, the file is read-only to the user, or no
// file can be made in it. Tries
// for real, with a temporary it removes again, so read-only disks and permissions both show.
std::string OutputPathProblem(const std::string& path);

// Why the user may not replace the existing file `path` leads to, though its folder would let a
// rename through: "the file is read-only" and the like; "" for a file they may write (root may
// write any, as with cp) or no file.
std::string ReadOnlyProblem(const std::string& path);

// What the disk says to more bytes at the end of `file`, a temporary that is removed anyway: the
// cause of a write that failed ("No space left on device"), or "" when it takes them. Names the
// cause when a writer gave none.
std::string DiskRefusal(const std::string& file);

// "cannot write PATH: CAUSE" for a write that failed: the cause OutputPathProblem finds, or else
// `why` (what the writer said).
std::string CannotWrite(const std::string& path, const std::string& why);

// Writes `size` bytes to `path` through a temporary beside it. False, with "cannot write PATH:
// why" in `error`, when the file could not be put in place.
bool WriteWholeFile(const std::string& path, const void* data, std::size_t size,
                    std::string* error);

}  // namespace vexo_host
