// Image files in and out of host worlds. Files hold red, green, blue, alpha; worlds hold alpha
// first. Row 0 of a file is the host's first row. Alpha is taken and written straight, as
// stored.
#pragma once
#include <string>

#include "standalone/world.h"

namespace vexo_host {

// Reads a file into a world of `depth` bits per channel; depth 0 chooses from the file (float
// files 32, others 8). Grey files fill red, green and blue; files without alpha are opaque.
// A failure comes back in `error` as one line naming the file; the image libraries print nothing
// of their own.
bool ReadImage(const std::string& path, int depth, World* world, std::string* error);

// Writes a world: 8-bit worlds as 8-bit, 32-bit worlds as 32-bit float where the format holds
// it. Writes to a temporary file beside `path` and renames it, so a failed write leaves nothing
// under the output name.
bool WriteImage(const std::string& path, const World& world, std::string* error);

// Whether WriteImage could write `path`: its extension names a format this build writes and its
// folder takes a new file. Checked before work whose result would be lost; false, with "cannot
// write PATH: why" in `error`, when it could not.
bool CanWriteImage(const std::string& path, std::string* error);

}  // namespace vexo_host
