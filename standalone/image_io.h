// Image files in and out of host worlds. Files hold red, green, blue, alpha; worlds hold alpha
// first. Row 0 of a file is the host's first row. Alpha is taken and written straight, as
// stored.
#pragma once
#include <string>

#include "standalone/world.h"

namespace vexo_host {

// How a file stores each sample, from shallowest to deepest: floats hold every value of the
// others; 16-bit integers and half floats each hold values the other does not.
enum class SampleFormat { kUint8, kUint16, kHalf, kFloat };

// Reads a file into a world of `depth` bits per channel; depth 0 chooses from the file (8-bit
// files 8, anything deeper 32). Grey files fill red, green and blue. Alpha is the channel the
// file names so; files without one are opaque. `format`, when given, receives how the file
// stores its samples; `unnamed_alpha`, whether it has a channel past its colour that could
// have been alpha but is not named so (an RGB+Z file), left out. A failure comes back in
// `error` as one line naming the file; the image libraries print nothing of their own.
bool ReadImage(const std::string& path, int depth, World* world, std::string* error,
               SampleFormat* format = nullptr, bool* unnamed_alpha = nullptr);

// How a file stores its samples, from its header alone; false, with `error` as ReadImage gives
// it, where it cannot be read.
bool ReadSampleFormat(const std::string& path, SampleFormat* format, std::string* error);

// Writes a world with `format` samples, or the nearest the file format holds (see
// WritableFormat). Writes to a temporary file beside `path` and renames it, so a failed write
// leaves nothing under the output name. A writer that takes only a file name has its file read
// back first: one that does not hold the picture (a disk that refused part) fails the write.
bool WriteImage(const std::string& path, const World& world, SampleFormat format,
                std::string* error);
// 8-bit worlds as 8-bit, 32-bit worlds as float where the format holds it.
bool WriteImage(const std::string& path, const World& world, std::string* error);

// The sample format to ask of the file format `path` names for `wanted` samples: `wanted` where
// it holds them, else float where it holds that, else the deepest it has (half floats before
// 16-bit integers for floats, which may lie outside 0..1). Formats it cannot tell of get
// `wanted`, and the writer converts as it does.
SampleFormat WritableFormat(const std::string& path, SampleFormat wanted);

// Whether WriteImage could write `path`: its extension names a format this build writes, its
// folder takes a new file and a file already there is the user's to write. Checked before work
// whose result would be lost; false, with "cannot write PATH: why" in `error`, when it could not.
bool CanWriteImage(const std::string& path, std::string* error);

}  // namespace vexo_host
