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
#include <mutex>
#include <optional>
#include <regex>
#include <thread>

#include "standalone/cli.h"
#include "standalone/cli_args.h"
#include "standalone/image_io.h"
#include "standalone/render_host.h"
#include "standalone/session.h"
#include "standalone/settings.h"

namespace vexo_host {
namespace {

constexpr const char* kRenderUsage =
    "usage: vexorant render --input IN [--map MAP] [--map-origin X,Y] [--set NAME=VALUE]...\n"
    "                       [--depth 8|32] [--downsample F] [--threads N] [--frames A-B]\n"
    "                       [--region L,T,R,B] --output OUT [--module PATH]\n";

constexpr const char* kRenderDetails =
    "\n"
    "  --input IN         the image to displace\n"
    "  --map MAP          the map layer; --map-origin X,Y places its top-left corner in\n"
    "                     pixels of IN (whole numbers)\n"
    "  --depth 8|32       bits per channel to render at (default: 32 for float files)\n"
    "  --downsample F     render at a fraction F (above 0, at most 1) of full size\n"
    "  --threads N        frames rendered at once, 1 to 64\n"
    "  --frames A-B       renders frames A to B (0 <= A <= B)\n"
    "  --region L,T,R,B   renders only that part of IN, in its pixels as rendered (right and\n"
    "                     bottom exclusive), as a viewer or a tile asks; OUT holds the part\n"
    "                     that lies on IN\n"
    "  --output OUT       the file to write; its extension chooses the format\n"
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

struct RenderOptions {
    std::string module = DefaultModulePath();
    std::string input, map, output;
    bool has_map_origin = false;
    A_long map_origin[2] = {0, 0};
    std::vector<SetRequest> settings;
    int depth = 0;  // 0: from the input file
    double downsample = 1.0;
    int threads = 1;
    bool has_frames = false;
    long first_frame = 0, last_frame = 0;
    std::optional<PF_LRect> region;
};

// A file name with a frame number field, or a plain name used for every frame.
struct FramePattern {
    std::string name;  // as given
    std::string head, tail;
    int width = 0;  // 0: no field
    bool has_pattern() const { return width > 0; }
    std::string For(long frame) const {
        if (!has_pattern()) return head;
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*ld", width, frame);
        return head + digits + tail;
    }
};

// Finds the frame number field of `path`: the last "%d", "%0Nd" or run of '#' in the file name
// that no letter or digit follows. Folder names are never searched, so "take#2/50%done.png" has
// none. False when the field asks for more digits than a frame number has.
bool FindFrameField(const std::string& path, FramePattern* pattern, std::string* error) {
    static const std::regex field("%0?([0-9]*)d(?![A-Za-z0-9])|#+(?![A-Za-z0-9#])");
    *pattern = FramePattern{path, path, "", 0};
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    const std::string name = path.substr(name_at);
    std::smatch last;
    for (std::sregex_iterator it(name.begin(), name.end(), field), end; it != end; ++it) {
        last = *it;
    }
    if (last.empty()) return true;
    std::string digits = last[1].str();
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    const bool hashes = last.str(0)[0] == '#';
    // Counted, not converted: "%99999999999d" must not overflow on its way to the refusal.
    const std::size_t width = hashes              ? last.str(0).size()
                              : digits.empty()    ? 1
                              : digits.size() > 2 ? std::size_t(kMaxFrameDigits) + 1
                                                  : std::size_t(std::stoi(digits));
    if (width > std::size_t(kMaxFrameDigits)) {
        *error = "the frame number field '" + last.str(0) + "' in " + path + " asks for " +
                 "more than " + std::to_string(kMaxFrameDigits) + " digits";
        return false;
    }
    pattern->width = int(width);
    pattern->head = path.substr(0, name_at + std::size_t(last.position(0)));
    pattern->tail = path.substr(name_at + std::size_t(last.position(0) + last.length(0)));
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
        {"--downsample", true, false,
         [o](const std::string& value, std::string* error) {
             double number = 0;
             if (!ParseNumber(value, &number) || number <= 0 || number > 1) {
                 return *error = "--downsample takes a factor above 0 and at most 1", false;
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
             o->has_frames = true;
             o->first_frame = long(a), o->last_frame = long(b);
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
std::string MissingFrames(const FramePattern& source, long first, long last) {
    if (!source.has_pattern()) {
        const std::string problem = SourceProblem(source.head);
        return problem.empty() ? "" : "cannot read " + source.head + ": " + problem;
    }
    constexpr std::size_t kNamesShown = 3, kRangesShown = 8;
    std::vector<std::pair<long, long>> ranges;  // runs of missing frames
    std::vector<std::string> names;
    long missing = 0;
    bool more = false;
    for (long f = first; f <= last; ++f) {
        const std::string name = source.For(f);
        if (SourceProblem(name).empty()) continue;
        ++missing;
        if (names.size() < kNamesShown) names.push_back(name);
        if (!ranges.empty() && ranges.back().second == f - 1) {
            ranges.back().second = f;
        } else if (ranges.size() < kRangesShown) {
            ranges.emplace_back(f, f);
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
    return 0;
}

// Shows progress on a terminal; stays quiet when standard error goes to a file.
class Progress {
  public:
    explicit Progress(long total) : total_(total), tty_(isatty(STDERR_FILENO)) { Show(0); }
    void Done(long done) {
        std::lock_guard<std::mutex> lock(mutex_);
        Show(done);
    }
    ~Progress() {
        if (tty_) std::fputc('\n', stderr);
    }

  private:
    void Show(long done) {
        if (!tty_) return;
        const int width = 30, filled = int(width * done / std::max(total_, 1L));
        std::fprintf(stderr, "\rrendering [%s%s] %ld/%ld", std::string(filled, '#').c_str(),
                     std::string(width - filled, ' ').c_str(), done, total_);
        std::fflush(stderr);
    }
    long total_;
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
};

// One frame from files to file. Returns the exit code and a message naming the frame.
int RenderOne(const Job& job, long frame, std::string* error) {
    const RenderOptions& o = *job.options;
    const std::string in_name = job.input.For(frame);
    World input;
    if (!ReadImage(in_name, o.depth, &input, error)) return 1;
    World map;
    const bool has_map = !o.map.empty();
    if (has_map && !ReadImage(job.map.For(frame), input.depth, &map, error)) return 1;
    if (o.has_map_origin) map.def.origin_x = o.map_origin[0], map.def.origin_y = o.map_origin[1];
    if (o.downsample < 1.0) {
        const auto scaled = [&](const World& w) {
            return Resample(w, std::max<A_long>(1, A_long(std::ceil(w.def.width * o.downsample))),
                            std::max<A_long>(1, A_long(std::ceil(w.def.height * o.downsample))));
        };
        input = scaled(input);
        if (has_map) map = scaled(map);
    }
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
    options.time = A_long(frame);
    std::vector<std::string> problems;
    const PF_Err err = RenderFrame(job.instance, FrameLayers{&input, has_map ? &map : nullptr},
                                   options, &output, &problems);
    if (err) {
        *error = "frame " + std::to_string(frame) + " (" + in_name +
                 "): render failed with host error " + std::to_string(err);
        if (!problems.empty()) *error += " (" + problems.front() + ")";
        return 1;
    }
    if (!problems.empty()) {
        *error = "frame " + std::to_string(frame) + ": " + problems.front();
        return 1;
    }
    return WriteImage(job.output.For(frame), output, error) ? 0 : 1;
}

// Renders every frame on `threads` threads; stops handing out frames after the first failure.
int RenderFrames(const Job& job, long first, long last, int threads, std::string* error) {
    std::atomic<long> next{first};
    std::atomic<long> done{0};
    std::atomic<bool> failed{false};
    std::mutex error_mutex;
    int code = 0;
    Progress progress(last - first + 1);
    auto worker = [&] {
        for (long f = next++; f <= last && !failed; f = next++) {
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
    for (int t = 1; t < std::min<long>(threads, last - first + 1); ++t) pool.emplace_back(worker);
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
    // frame and a folder that takes the output.
    std::vector<std::string> problems;
    for (const FramePattern* source : {&names.input, &names.map}) {
        if (source->head.empty()) continue;
        const std::string problem = MissingFrames(*source, o.first_frame, o.last_frame);
        if (!problem.empty()) problems.push_back(problem);
    }
    std::string error;
    if (!CanWriteImage(names.output.For(o.first_frame), &error)) problems.push_back(error);
    if (!problems.empty()) {
        for (const std::string& p : problems) Complain(1, p);
        return 1;
    }

    Stage stage;
    if ((code = OpenStage(o.module, o.settings, &stage))) return CloseStage(&stage, code);

    Job job{&o, stage.instance.get(), names.input, names.map, names.output};
    const auto start = std::chrono::steady_clock::now();
    code = RenderFrames(job, o.first_frame, o.last_frame, o.threads, &error);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code) {
        Complain(code, error);
    } else {
        const long frames = o.last_frame - o.first_frame + 1;
        std::printf("rendered %ld frame(s) in %.2f s (%.2f frames/s) to %s\n", frames, seconds,
                    frames / std::max(seconds, 1e-9), o.output.c_str());
    }
    return CloseStage(&stage, code);
}

}  // namespace vexo_host
