// Output files are written under a temporary name beside their final one and moved into place
// only once complete, so a failed write never leaves a partial file under the output name.
#pragma once
#include <string>

namespace vexo_host {

// A hidden name in the output's folder, unique to this process and `writer`, that keeps the
// output's extension (image writers choose the format by it).
std::string TemporaryBeside(const std::string& path, const void* writer);

// When `written`, moves the temporary over `path`, replacing a file already there; whatever
// failed, the temporary is removed. Returns whether the output is in place; otherwise `why`
// says what failed, when it is not already set.
bool CommitTemporary(const std::string& temp, const std::string& path, bool written,
                     std::string* why);

}  // namespace vexo_host
