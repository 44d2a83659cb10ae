// `vexorant render` and `vexorant demo`: frames through the effect, from files or from the
// built-in sample, on as many threads as asked.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>
#include <utility>

#include "standalone/cli.h"
#include "standalone/cli_args.h"
#include "standalone/image_io.h"
#include "standalone/module.h"
#include "standalone/output_file.h"
#include "standalone/render_host.h"
#include "standalone/session.h"
#include "standalone/settings.h"

namespace vexo_host {
namespace {

constexpr const char* kRenderUsage =
    "usage: vexorant render --input IN [--map MAP] [--map-origin X,Y] [--set NAME=VALUE]...\n"
    "                       [--depth 8|32] [--downsample F] [--threads N] [--frames A-B]\n"
    "                       [--fps R] [--map-offset N] [--region L,T,R,B] --output OUT\n"
    "                       [--output-samples TYPE] [--module PATH]\n";

constexpr const char* kRenderDetails =
    "\n"
    "  --input IN         the image to displace\n"
    "  --map MAP          the map layer; --map-origin X,Y places its top-left corner in\n"
    "                     pixels of IN (whole numbers)\n"
    "  --depth 8|32       bits per channel to render at (default: 32 where IN or MAP is\n"
    "                     deeper than 8 bits, else 8)\n"
    "  --downsample F     render at a fraction F (0.01 to 1) of full size\n"
    "  --threads N        frames rendered at once, 1 to 64\n"
    "  --frames A-B       renders frames A to B (0 <= A <= B)\n"
    "  --fps R            the frame rate, whole or a fraction such as 30000/1001 (default 24):\n"
    "                     frame N is at N/R seconds, where keyframes and the layers are taken\n"
    "  --map-offset N     frame F renders with frame F+N of the map sequence\n"
    "  --region L,T,R,B   renders only that part of IN, in its pixels as rendered (right and\n"
    "                     bottom exclusive), as a viewer or a tile asks; OUT holds the part\n"
    "                     that lies on IN\n"
    "  --output OUT       the file to write; its extension chooses the format\n"
    "  --output-samples TYPE\n"
    "                     OUT's samples: uint8, uint16, half or float (default: IN's; uint8\n"
    "                     after --depth 8, float after --depth 32 from an 8-bit IN). A format\n"
    "                     that cannot hold them gets the deepest it holds, with a note\n"
    "  --module PATH      the effect module (default: the one beside vexorant)\n"
    "\n"
    "File names are taken as they are. With --frames, the frame number field of a file name\n"
    "stands for the frame number: %04d, %d or #### with no letter or digit after it, as in\n"
    "shot.%04d.exr or take_####.png; a # or % elsewhere, and in folder names, stays as it is.\n"
    "A name without a field means the same file for every frame.\n"
    "\n"
    "control edits:\n";

constexpr int kMaxFrameDigits = 18;
constexpr long long kLongMin = -2147483647LL - 1, kLongMax = 2147483647LL;  // the host's A_long
// Every frame's files are checked before the first renders; a range beyond this is a typo.
constexpr long long kMaxFrames = 1000000;
constexpr double kMinDownsample = 0.01;

constexpr std::pair<const char*, SampleFormat> kSampleNames[] = {{"uint8", SampleFormat::kUint8},
                                                                 {"uint16", SampleFormat::kUint16},
                                                                 {"half", SampleFormat::kHalf},
                                                                 {"float", SampleFormat::kFloat}};

// Frame numbers in 64 bits: `long` is 32 on Windows, where the last frame of
// "--frames 1-2147483647" would overflow the loops that count up to it.
using FrameNumber = long long;

struct RenderOptions {
    std::string module = DefaultModulePath();
    std::string input, map, output;
    bool has_map_origin = false;
    A_long map_origin[2] = {0, 0};
    std::vector<SetRequest> settings;
    int depth = 0;  // 0: from the input and map files
    // None: from the input file and the depth.
    std::optional<SampleFormat> output_samples;
    double downsample = 1.0;
    int threads = 1;
    bool has_frames = false;
    FrameNumber first_frame = 0, last_frame = 0;
    // The host's time_scale and time_step; none given: the host's own.
    std::optional<std::pair<A_u_long, A_long>> fps;
    std::optional<FrameNumber> map_offset;
    std::optional<PF_LRect> region;
};

// A file name with a frame number field, or a plain name used for every frame.
struct FramePattern {
    std::string name;  // as given
    std::string head, tail;
    int width = 0;           // 0: no field
    FrameNumber offset = 0;  // the file of frame F is numbered F + offset
    bool has_pattern() const { return width > 0; }
    std::string For(FrameNumber frame) const {
        if (!has_pattern()) return head;
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*lld", width, frame + offset);
        return head + digits + tail;
    }
};

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Finds the frame number field of `path`: the last "%d", "%0Nd" or run of '#' in the file name
// that no letter or digit follows. Folder names are never searched, so "take#2/50%done.png" has
// none. False when the field asks for more digits than a frame number has. A plain scan: names
// are the user's, of any length.
bool FindFrameField(const std::string& path, FramePattern* pattern, std::string* error) {
    *pattern = FramePattern{path, path, "", 0};
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    const auto after = [&](std::size_t end) { return end < path.size() && IsAlnum(path[end]); };
    std::size_t at = std::string::npos, length = 0, digits_at = 0, digits = 0;
    for (std::size_t i = name_at; i < path.size();) {
        std::size_t end = i + 1;
        if (path[i] == '#') {
            while (end < path.size() && path[end] == '#') ++end;
            if (!after(end)) at = i, length = end - i, digits = 0;
        } else if (path[i] == '%') {
            while (end < path.size() && path[end] >= '0' && path[end] <= '9') ++end;
            if (end < path.size() && path[end] == 'd' && !after(end + 1)) {
                at = i, length = end + 1 - i, digits_at = i + 1, digits = end - i - 1;
                ++end;
            } else {
                end = i + 1;  // "%%04d": the second '%' may start the field
            }
        }
        i = end;
    }
    if (at == std::string::npos) return true;
    const std::string field = path.substr(at, length);
    // The width without its leading zeros ("%04d" is 4, "%0d" and "%d" are 1); counted, not
    // converted, so "%99999999999d" cannot overflow on its way to the refusal.
    std::string width_text = path.substr(digits_at, digits);
    width_text.erase(0, std::min(width_text.find_first_not_of('0'), width_text.size()));
    const std::size_t width = field[0] == '#'         ? length
                              : width_text.empty()    ? 1
                              : width_text.size() > 2 ? std::size_t(kMaxFrameDigits) + 1
                                                      : std::size_t(std::stoi(width_text));
    if (width > std::size_t(kMaxFrameDigits)) {
        *error = "the frame number field '" + field + "' in " + path + " asks for " + "more than " +
                 std::to_string(kMaxFrameDigits) + " digits";
        return false;
    }
    pattern->width = int(width);
    pattern->head = path.substr(0, at);
    pattern->tail = path.substr(at + length);
    return true;
}

bool ParseNumber(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(*value);
}

// Four whole numbers "L,T,R,B" of a non-empty rectangle.
bool ParseRegion(const std::string& text, PF_LRect* region) {
    long long edges[4];
    std::size_t at = 0;
    for (int i = 0; i < 4; ++i) {
        const std::size_t end = i < 3 ? text.find(',', at) : text.size();
        if (end == std::string::npos ||
            !ParseWholeNumber(text.substr(at, end - at), kLongMin, kLongMax, &edges[i])) {
            return false;
        }
        at = end + 1;
    }
    *region = PF_LRect{A_long(edges[0]), A_long(edges[1]), A_long(edges[2]), A_long(edges[3])};
    return region->left < region->right && region->top < region->bottom;
}

CliCommand RenderCommand(RenderOptions* o) {
    auto text = [](std::string* to) {
        return [to](const std::string& value, std::string*) { return *to = value, true; };
    };
    CliCommand c;
    c.name = "render";
    c.usage = kRenderUsage;
    c.details = std::string(kRenderDetails) + kSetUsage;
    c.options = {
        {"--input", true, false, text(&o->input)},
        {"--map", true, false, text(&o->map)},
        {"--output", true, false, text(&o->output)},
        {"--module", true, false, text(&o->module)},
        SetOption(&o->settings),
        {"--map-origin", true, false,
         [o](const std::string& value, std::string* error) {
             const std::size_t comma = value.find(',');
             long long x = 0, y = 0;
             if (comma == std::string::npos ||
                 !ParseWholeNumber(value.substr(0, comma), kLongMin, kLongMax, &x) ||
                 !ParseWholeNumber(value.substr(comma + 1), kLongMin, kLongMax, &y)) {
                 *error = "--map-origin takes X,Y in whole pixels from " +
                          std::to_string(kLongMin) + " to " + std::to_string(kLongMax) + ", not '" +
                          value + "'";
                 return false;
             }
             o->has_map_origin = true;
             o->map_origin[0] = A_long(x), o->map_origin[1] = A_long(y);
             return true;
         }},
        {"--region", true, false,
         [o](const std::string& value, std::string* error) {
             if (!ParseRegion(value, &o->region.emplace())) {
                 *error = "--region takes L,T,R,B in whole pixels with L < R and T < B, not '" +
                          value + "'";
                 return false;
             }
             return true;
         }},
        {"--depth", true, false,
         [o](const std::string& value, std::string* error) {
             if (value != "8" && value != "32") return *error = "--depth is 8 or 32", false;
             o->depth = value == "8" ? 8 : 32;
             return true;
         }},
        {"--output-samples", true, false,
         [o](const std::string& value, std::string* error) {
             for (const auto& [name, format] : kSampleNames) {
                 if (value == name) return o->output_samples = format, true;
             }
             return *error = "--output-samples is uint8, uint16, half or float", false;
         }},
        {"--downsample", true, false,
         [o](const std::string& value, std::string* error) {
             double number = 0;
             // A host scales by whole steps of at most a hundred pixels to one; far below that
             // the factor rounds to nothing on its way into the host's rational.
             if (!ParseNumber(value, &number) || number < kMinDownsample || number > 1) {
                 return *error = "--downsample takes a factor from 0.01 to 1", false;
             }
             o->downsample = number;
             return true;
         }},
        {"--threads", true, false,
         [o](const std::string& value, std::string* error) {
             long long n = 0;
             if (!ParseWholeNumber(value, 1, 64, &n)) {
                 return *error = "--threads takes a whole number from 1 to 64", false;
             }
             o->threads = int(n);
             return true;
         }},
        {"--fps", true, false,
         [o](const std::string& value, std::string* error) {
             const std::size_t slash = value.find('/');
             long long rate = 0, per = 1;
             if (!ParseWholeNumber(value.substr(0, slash), 1, kLongMax, &rate) ||
                 (slash != std::string::npos &&
                  !ParseWholeNumber(value.substr(slash + 1), 1, kLongMax, &per))) {
                 *error =
                     "--fps takes a whole number or a fraction of two, such as 24 or "
                     "30000/1001, from 1 to " +
                     std::to_string(kLongMax) + ", not '" + value + "'";
                 return false;
             }
             o->fps.emplace(A_u_long(rate), A_long(per));
             return true;
         }},
        {"--map-offset", true, false,
         [o](const std::string& value, std::string* error) {
             long long n = 0;
             if (!ParseWholeNumber(value, kLongMin, kLongMax, &n)) {
                 *error = "--map-offset takes a whole number of frames, not '" + value + "'";
                 return false;
             }
             o->map_offset = n;
             return true;
         }},
        {"--frames", true, false,
         [o](const std::string& value, std::string* error) {
             const std::size_t dash = value.find('-');
             long long a = 0, b = 0;
             if (dash == std::string::npos ||
                 !ParseWholeNumber(value.substr(0, dash), 0, kLongMax, &a) ||
                 !ParseWholeNumber(value.substr(dash + 1), 0, kLongMax, &b) || b < a) {
                 *error = "--frames takes A-B with 0 <= A <= B <= " + std::to_string(kLongMax);
                 return false;
             }
             if (b - a >= kMaxFrames) {
                 *error = "--frames " + value + " is " + std::to_string(b - a + 1) +
                          " frames; one render takes at most " + std::to_string(kMaxFrames);
                 return false;
             }
             o->has_frames = true;
             o->first_frame = a, o->last_frame = b;
             return true;
         }},
    };
    return c;
}

bool IsFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

// Why `path` cannot be read as an image file, or "" when it can be opened.
std::string SourceProblem(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::strerror(errno);
    std::fclose(f);
    return "";
}

// Every frame of a source, checked before the first render: a sequence that stops at a gap
// would otherwise fail halfway, after the frames before the gap were written.
std::string MissingFrames(const FramePattern& source, FrameNumber first, FrameNumber last) {
    if (!source.has_pattern()) {
        const std::string problem = SourceProblem(source.head);
        return problem.empty() ? "" : "cannot read " + source.head + ": " + problem;
    }
    constexpr std::size_t kNamesShown = 3, kRangesShown = 8;
    std::vector<std::pair<FrameNumber, FrameNumber>> ranges;  // runs of missing frames
    std::vector<std::string> names;
    FrameNumber missing = 0;
    bool more = false;
    for (FrameNumber f = first; f <= last; ++f) {
        const std::string name = source.For(f);
        if (SourceProblem(name).empty()) continue;
        ++missing;
        if (names.size() < kNamesShown) names.push_back(name);
        const FrameNumber n = f + source.offset;  // as the files are numbered
        if (!ranges.empty() && ranges.back().second == n - 1) {
            ranges.back().second = n;
        } else if (ranges.size() < kRangesShown) {
            ranges.emplace_back(n, n);
        } else {
            more = true;
        }
    }
    if (!missing) return "";
    std::string list;
    for (const auto& [a, b] : ranges) {
        list +=
            (list.empty() ? "" : ", ") + std::to_string(a) + (b > a ? "-" + std::to_string(b) : "");
    }
    if (more) list += ", ...";
    std::string files;
    for (const std::string& n : names) files += (files.empty() ? "" : ", ") + n;
    if (std::size_t(missing) > names.size()) files += ", ...";
    return "cannot read " + source.name + ": " +
           (missing == 1 ? "frame " + list + " is missing"
                         : std::to_string(missing) + " frames are missing: " + list) +
           " (" + files + ")";
}

struct Names {
    FramePattern input, map, output;
};

// An output that already exists as a file the render reads (the module, an input or a map frame,
// under this name or another) would be gone before, or while, it is read: what it is, or "".
std::string OverwrittenSource(const Names& names, const RenderOptions& o) {
    std::map<FileId, FrameNumber> outputs;  // the outputs already there, usually none
    FileId id;
    for (FrameNumber f = o.first_frame; f <= o.last_frame; ++f) {
        if (IdentifyFile(names.output.For(f), &id)) outputs.emplace(id, f);
        if (!names.output.has_pattern()) break;
    }
    if (outputs.empty()) return "";
    // Whether `source` is one of them: the message, or "".
    const auto clash = [&](const std::string& source, const std::string& what) {
        if (source.empty() || !IdentifyFile(source, &id) || !outputs.count(id))
            return std::string();
        return "cannot write " + names.output.For(outputs[id]) + ": it is " + what + " " + source;
    };
    std::string found = clash(ModuleFilePath(o.module), "the effect module");
    for (FrameNumber f = o.first_frame; f <= o.last_frame && found.empty(); ++f) {
        found = clash(names.input.For(f), "the input");
        if (found.empty() && !o.map.empty()) found = clash(names.map.For(f), "the map");
        if (!names.input.has_pattern() && !names.map.has_pattern()) break;
    }
    return found;
}

// The file names as the command line means them. Returns the exit code: 0 go on, 2 a usage
// error (printed).
int ReadNames(const CliCommand& command, const RenderOptions& o, Names* names) {
    if (o.input.empty() || o.output.empty()) {
        return UsageError(command, "render needs --input and --output");
    }
    std::string error;
    struct Slot {
        const std::string* path;
        FramePattern* pattern;
    } slots[] = {{&o.input, &names->input}, {&o.map, &names->map}, {&o.output, &names->output}};
    bool any_field = false;
    for (const Slot& s : slots) {
        if (!o.has_frames) {
            // Without --frames every name is taken as it is. A source that names no file but
            // holds a field was most likely meant as a sequence: say what that needs.
            *s.pattern = FramePattern{*s.path, *s.path, "", 0};
            FramePattern field;
            const bool source = s.pattern != &names->output && !s.path->empty();
            if (source && !IsFile(*s.path) && FindFrameField(*s.path, &field, &error) &&
                field.has_pattern()) {
                return UsageError(command, *s.path +
                                               " names no file; as a numbered sequence it needs "
                                               "--frames A-B");
            }
            continue;
        }
        if (!FindFrameField(*s.path, s.pattern, &error)) return UsageError(command, error);
        any_field = any_field || s.pattern->has_pattern();
    }
    if (o.has_frames && !any_field) {
        return UsageError(command,
                          "--frames needs a frame number field (%04d or ####) in a file name");
    }
    if (o.last_frame > o.first_frame && !names->output.has_pattern()) {
        return UsageError(command, "several frames need a frame number field in --output");
    }
    if (o.map_offset) {
        if (!names->map.has_pattern()) {
            return UsageError(command,
                              "--map-offset needs --frames and a map sequence, with a "
                              "frame number field in --map");
        }
        if (o.first_frame + *o.map_offset < 0 || o.last_frame + *o.map_offset > kLongMax) {
            return UsageError(
                command, "--map-offset " + std::to_string(*o.map_offset) + " takes frames " +
                             std::to_string(o.first_frame) + "-" + std::to_string(o.last_frame) +
                             " past the map's frame numbers, 0 to " + std::to_string(kLongMax));
        }
        names->map.offset = *o.map_offset;
    }
    // The host's times are 32-bit: frame N at N * time_step.
    if (o.fps && o.last_frame > kLongMax / o.fps->second) {
        return UsageError(command, "--frames " + std::to_string(o.last_frame) + " at --fps " +
                                       std::to_string(o.fps->first) + "/" +
                                       std::to_string(o.fps->second) +
                                       " lies past the last time the host can give");
    }
    return 0;
}

// Shows progress on a terminal; stays quiet when standard error goes to a file.
class Progress {
  public:
    explicit Progress(FrameNumber total) : total_(total), tty_(isatty(STDERR_FILENO)) { Show(0); }
    void Done(FrameNumber done) {
        std::lock_guard<std::mutex> lock(mutex_);
        Show(done);
    }
    ~Progress() {
        if (tty_) std::fputc('\n', stderr);
    }

  private:
    void Show(FrameNumber done) {
        if (!tty_) return;
        const int width = 30, filled = int(width * done / std::max<FrameNumber>(total_, 1));
        std::fprintf(stderr, "\rrendering [%s%s] %lld/%lld", std::string(filled, '#').c_str(),
                     std::string(width - filled, ' ').c_str(), done, total_);
        std::fflush(stderr);
    }
    FrameNumber total_;
    bool tty_;
    std::mutex mutex_;
};

PF_RationalScale ScaleOf(double factor) {
    return PF_RationalScale{A_long(std::lround(factor * 10000)), 10000};
}

struct Job {
    const RenderOptions* options;
    Instance* instance;
    FramePattern input, map, output;
    mutable std::atomic<bool> noted{false};         // the note on the output's samples is printed
    mutable std::atomic<bool> noted_alpha[2] = {};  // the input's and the map's note on alpha
};

// A channel that could have been alpha but is not named so is left out, said once per render
// for each of input and map: a sequence's frames are all alike, as a rule.
void NoteUnnamedAlpha(const Job& job, bool is_map, const std::string& path, bool unnamed) {
    if (unnamed && !job.noted_alpha[is_map].exchange(true)) {
        Complain(0, "note: " + path + " names none of its channels alpha: read as opaque");
    }
}

const char* Described(SampleFormat format) {
    switch (format) {
        case SampleFormat::kUint8:
            return "8-bit";
        case SampleFormat::kUint16:
            return "16-bit";
        case SampleFormat::kHalf:
            return "half-float";
        case SampleFormat::kFloat:
            break;
    }
    return "float";
}

// The output's samples: as asked, else the input's, unless --depth says otherwise (a deeper
// map alone does not); where the output's format holds less, the deepest it has, said once per
// render.
SampleFormat OutputSamples(const Job& job, const std::string& path, SampleFormat input, int depth) {
    using F = SampleFormat;
    const F wanted = job.options->output_samples                      ? *job.options->output_samples
                     : depth == 8                                     ? F::kUint8
                     : input == F::kUint8 && job.options->depth == 32 ? F::kFloat
                                                                      : input;
    const F chosen = WritableFormat(path, wanted);
    if (chosen != wanted && chosen != F::kFloat && !job.noted.exchange(true)) {
        Complain(0, std::string("note: ") + path + " holds no " + Described(wanted) +
                        " samples; written as " + Described(chosen));
    }
    return chosen;
}

// A layer as read, placed and scaled as the render takes it.
void Place(const RenderOptions& o, bool map, World* layer) {
    if (map && o.has_map_origin) {
        layer->def.origin_x = o.map_origin[0], layer->def.origin_y = o.map_origin[1];
    }
    if (o.downsample < 1.0) {
        const World& w = *layer;
        *layer = Resample(w, std::max<A_long>(1, A_long(std::ceil(w.def.width * o.downsample))),
                          std::max<A_long>(1, A_long(std::ceil(w.def.height * o.downsample))));
    }
}

// One frame from files to file. Returns the exit code and a message naming the frame.
int RenderOne(const Job& job, FrameNumber frame, std::string* error) {
    const RenderOptions& o = *job.options;
    const std::string in_name = job.input.For(frame);
    const bool has_map = !o.map.empty();
    const std::string map_name = has_map ? job.map.For(frame) : "";
    // A map deeper than 8 bits renders at 32 even from an 8-bit input: 8 would quantise it.
    SampleFormat map_samples = SampleFormat::kUint8;
    if (o.depth == 0 && has_map && !ReadSampleFormat(map_name, &map_samples, error)) return 1;
    const int depth = map_samples == SampleFormat::kUint8 ? o.depth : 32;
    World input, map;
    SampleFormat samples = SampleFormat::kUint8;
    bool unnamed = false;
    if (!ReadImage(in_name, depth, &input, error, &samples, &unnamed)) return 1;
    NoteUnnamedAlpha(job, false, in_name, unnamed);
    if (has_map) {
        if (!ReadImage(map_name, input.depth, &map, error, nullptr, &unnamed)) return 1;
        NoteUnnamedAlpha(job, true, map_name, unnamed);
    }
    Place(o, false, &input);
    if (has_map) Place(o, true, &map);
    if (const std::optional<PF_LRect>& r = o.region;
        r && (r->right <= 0 || r->bottom <= 0 || r->left >= input.def.width ||
              r->top >= input.def.height)) {
        *error = "frame " + std::to_string(frame) + " (" + in_name + "): the region " +
                 std::to_string(r->left) + "," + std::to_string(r->top) + "," +
                 std::to_string(r->right) + "," + std::to_string(r->bottom) +
                 " lies outside the input's " + std::to_string(input.def.width) + " x " +
                 std::to_string(input.def.height) + " pixels";
        return 1;
    }
    World output;  // the host sizes it from the pre-render's answer
    FrameOptions options;
    options.region = o.region;
    options.depth = input.depth;
    options.downsample = ScaleOf(o.downsample);
    options.time = A_long(frame * job.instance->time_step);
    // Frames other than this one, for an effect that asks for its layers at another time.
    options.layer_at = [&](bool is_map, A_long at, World* layer, std::string* why) {
        const FramePattern& source = is_map ? job.map : job.input;
        if (source.has_pattern() && at + source.offset < 0) return false;
        const std::string name = source.For(at);
        bool unnamed_alpha = false;
        if (!ReadImage(name, input.depth, layer, why, nullptr, &unnamed_alpha)) return false;
        NoteUnnamedAlpha(job, is_map, name, unnamed_alpha);
        Place(o, is_map, layer);
        return true;
    };
    std::string shown;
    options.message = &shown;
    std::vector<std::string> problems;
    const PF_Err err = RenderFrame(job.instance, FrameLayers{&input, has_map ? &map : nullptr},
                                   options, &output, &problems);
    if (err) {
        // The effect's own account, where it gave one, says more than the code.
        *error = "frame " + std::to_string(frame) + " (" + in_name + "): " +
                 (shown.empty() ? "render failed with host error " + std::to_string(err)
                                : shown + " (host error " + std::to_string(err) + ")");
        if (!problems.empty()) *error += " (" + problems.front() + ")";
        return 1;
    }
    if (!problems.empty()) {
        *error = "frame " + std::to_string(frame) + ": " + problems.front();
        return 1;
    }
    const std::string out_name = job.output.For(frame);
    const SampleFormat out_samples = OutputSamples(job, out_name, samples, output.depth);
    return WriteImage(out_name, output, out_samples, error) ? 0 : 1;
}

// Renders every frame on `threads` threads; stops handing out frames after the first failure.
int RenderFrames(const Job& job, FrameNumber first, FrameNumber last, int threads,
                 std::string* error) {
    std::atomic<FrameNumber> next{first};
    std::atomic<FrameNumber> done{0};
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    int code = 0;
    Progress progress(last - first + 1);
    auto worker = [&] {
        for (FrameNumber f = next++; f <= last && !failed; f = next++) {
            std::string why;
            int c = 1;
            // An exception must not leave a worker thread: that would end the process.
            try {
                c = RenderOne(job, f, &why);
            } catch (const std::bad_alloc&) {
                why = "frame " + std::to_string(f) + ": out of memory";
            } catch (const std::exception& e) {
                why = "frame " + std::to_string(f) + ": " + e.what();
            }
            if (c) {
                std::lock_guard<std::mutex> lock(error_mutex);
                if (!failed.exchange(true)) code = c, *error = why;
                return;
            }
            progress.Done(++done);
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min<FrameNumber>(threads, last - first + 1); ++t)
        pool.emplace_back(worker);
    worker();
    for (std::thread& t : pool) t.join();
    return code;
}

// The effect loaded and one instance set up with the user's edits; torn down in reverse.
struct Stage {
    Session session;
    std::unique_ptr<Instance> instance;
};

int OpenStage(const std::string& module, const std::vector<SetRequest>& settings, Stage* stage) {
    std::string error;
    if (!OpenSession(module, &stage->session, &error)) return Complain(1, error);
    stage->instance = std::make_unique<Instance>(&stage->session.effect);
    if (const PF_Err err = SetupInstance(stage->instance.get())) {
        return Complain(1, "parameter setup failed with host error " + std::to_string(err));
    }
    if (const int code = ApplySetRequests(stage->instance.get(), settings, &error)) {
        return Complain(code, error);
    }
    return 0;
}

int CloseStage(Stage* stage, int code) {
    std::vector<std::string> problems;
    if (stage->instance) {
        problems = InstanceProblems(*stage->instance);
        stage->instance.reset();
    }
    for (const std::string& p : CloseSession(&stage->session)) problems.push_back(p);
    for (const std::string& p : problems) Complain(1, p);
    return code ? code : problems.empty() ? 0 : 1;
}

}  // namespace

int RunRender(const Args& args) {
    RenderOptions o;
    const CliCommand command = RenderCommand(&o);
    int code = 0;
    if (!ParseCommandLine(command, args, &code)) return code;
    Names names;
    if ((code = ReadNames(command, o, &names))) return code;

    // Everything a render needs from the disk, before the first one: the sources of every
    // frame, a folder that takes the output and output files the user may replace.
    std::vector<std::string> problems;
    for (const FramePattern* source : {&names.input, &names.map}) {
        if (source->head.empty()) continue;
        const std::string problem = MissingFrames(*source, o.first_frame, o.last_frame);
        if (!problem.empty()) problems.push_back(problem);
    }
    std::string error;
    if (!CanWriteImage(names.output.For(o.first_frame), &error)) problems.push_back(error);
    // The later frames' files too: one the user may not write would fail the render halfway.
    for (FrameNumber f = o.first_frame + 1; f <= o.last_frame && names.output.has_pattern(); ++f) {
        const std::string name = names.output.For(f);
        const std::string read_only = ReadOnlyProblem(name);
        if (!read_only.empty()) {
            problems.push_back("cannot write " + name + ": " + read_only);
            break;
        }
    }
    if (problems.empty()) {
        const std::string overwritten = OverwrittenSource(names, o);
        if (!overwritten.empty()) problems.push_back(overwritten);
    }
    if (!problems.empty()) {
        for (const std::string& p : problems) Complain(1, p);
        return 1;
    }

    Stage stage;
    if ((code = OpenStage(o.module, o.settings, &stage))) return CloseStage(&stage, code);

    if (o.fps) std::tie(stage.instance->time_scale, stage.instance->time_step) = *o.fps;
    Job job{&o, stage.instance.get(), names.input, names.map, names.output};
    const auto start = std::chrono::steady_clock::now();
    code = RenderFrames(job, o.first_frame, o.last_frame, o.threads, &error);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code) {
        Complain(code, error);
    } else {
        const FrameNumber frames = o.last_frame - o.first_frame + 1;
        std::printf("rendered %lld frame(s) in %.2f s (%.2f frames/s) to %s\n", frames, seconds,
                    frames / std::max(seconds, 1e-9), o.output.c_str());
    }
    return CloseStage(&stage, code);
}

}  // namespace vexo_host
