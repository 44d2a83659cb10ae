// `vexorant render` and `vexorant demo`: frames through the effect, from files or from the
// built-in sample, on as many threads as asked.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <mutex>
#include <regex>
#include <thread>

#include "standalone/cli.h"
#include "standalone/image_io.h"
#include "standalone/render_host.h"
#include "standalone/session.h"
#include "standalone/settings.h"

namespace vexo_host {
namespace {

constexpr const char* kRenderUsage =
    "usage: vexorant render --input IN [--map MAP] [--map-origin X,Y] [--set NAME=VALUE]...\n"
    "                       [--depth 8|32] [--downsample F] [--threads N] [--frames A-B]\n"
    "                       --output OUT [--module PATH]\n"
    "IN, MAP and OUT may hold a frame number pattern (%04d or ####) with --frames A-B.\n";

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
};

// A file name with a frame number pattern, or a plain name used for every frame.
struct FramePattern {
    std::string head, tail;
    int width = 0;  // 0: no pattern
    bool has_pattern() const { return width > 0; }
    std::string For(long frame) const {
        if (!has_pattern()) return head;
        char digits[32];
        std::snprintf(digits, sizeof digits, "%0*ld", width, frame);
        return head + digits + tail;
    }
};

FramePattern ParsePattern(const std::string& name) {
    static const std::regex printf_style("%0?([0-9]*)d"), hashes("#+");
    std::smatch m;
    FramePattern p{name, "", 0};
    if (std::regex_search(name, m, printf_style)) {
        p.width = std::max(1, m[1].length() ? std::stoi(m[1].str()) : 1);
    } else if (std::regex_search(name, m, hashes)) {
        p.width = int(m.length(0));
    } else {
        return p;
    }
    p.head = name.substr(0, std::size_t(m.position(0)));
    p.tail = name.substr(std::size_t(m.position(0) + m.length(0)));
    return p;
}

bool ParseNumber(const std::string& text, double* value) {
    char* end = nullptr;
    *value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && std::isfinite(*value);
}

bool ParseOptions(const Args& args, RenderOptions* o, std::string* error) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i], value;
        const std::size_t eq = a.find('=');
        const bool inline_value =
            a.rfind("--", 0) == 0 && eq != std::string::npos && a.rfind("--set", 0) != 0;
        if (inline_value) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
        }
        // Options take the next argument whatever it starts with: "-12,-4" is a value.
        auto next = [&](std::string* out) {
            if (inline_value) return *out = value, true;
            if (i + 1 >= args.size()) return *error = a + " needs a value", false;
            *out = args[++i];
            return true;
        };
        double number = 0;
        if (a.rfind("--set", 0) == 0) {
            if (!TakeSetOption(args, &i, &o->settings, error) || !error->empty()) {
                if (error->empty()) *error = "cannot read '" + a + "'";
                return false;
            }
        } else if (a == "--input") {
            if (!next(&o->input)) return false;
        } else if (a == "--map") {
            if (!next(&o->map)) return false;
        } else if (a == "--output") {
            if (!next(&o->output)) return false;
        } else if (a == "--module") {
            if (!next(&o->module)) return false;
        } else if (a == "--map-origin") {
            if (!next(&value)) return false;
            long x = 0, y = 0;
            char extra = 0;
            if (std::sscanf(value.c_str(), "%ld,%ld%c", &x, &y, &extra) != 2) {
                return *error = "--map-origin takes X,Y in pixels, not '" + value + "'", false;
            }
            o->has_map_origin = true;
            o->map_origin[0] = A_long(x), o->map_origin[1] = A_long(y);
        } else if (a == "--depth") {
            if (!next(&value)) return false;
            if (value != "8" && value != "32") return *error = "--depth is 8 or 32", false;
            o->depth = std::stoi(value);
        } else if (a == "--downsample") {
            if (!next(&value)) return false;
            if (!ParseNumber(value, &number) || number <= 0 || number > 1) {
                return *error = "--downsample takes a factor above 0 and at most 1", false;
            }
            o->downsample = number;
        } else if (a == "--threads") {
            if (!next(&value)) return false;
            if (!ParseNumber(value, &number) || number < 1 || number > 64 ||
                number != std::floor(number)) {
                return *error = "--threads takes a whole number from 1 to 64", false;
            }
            o->threads = int(number);
        } else if (a == "--frames") {
            if (!next(&value)) return false;
            char extra = 0;
            if (std::sscanf(value.c_str(), "%ld-%ld%c", &o->first_frame, &o->last_frame, &extra) !=
                    2 ||
                o->first_frame < 0 || o->last_frame < o->first_frame) {
                return *error = "--frames takes A-B with 0 <= A <= B", false;
            }
            o->has_frames = true;
        } else {
            return *error = "render: unexpected argument '" + args[i] + "'", false;
        }
    }
    if (o->input.empty() || o->output.empty()) {
        return *error = "render needs --input and --output", false;
    }
    const bool patterned = ParsePattern(o->input).has_pattern() ||
                           ParsePattern(o->map).has_pattern() ||
                           ParsePattern(o->output).has_pattern();
    if (patterned != o->has_frames) {
        return *error =
                   patterned
                       ? "a frame number pattern needs --frames A-B"
                       : "--frames needs a frame number pattern (%04d or ####) in the file names",
               false;
    }
    if (o->has_frames && o->last_frame > o->first_frame && !ParsePattern(o->output).has_pattern()) {
        return *error = "several frames need a frame number pattern in --output", false;
    }
    return true;
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
    World output;  // the host sizes it from the pre-render's answer
    FrameOptions options;
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
            if (const int c = RenderOne(job, f, &why)) {
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
    std::string error;
    if (!ParseOptions(args, &o, &error)) {
        Complain(2, error);
        std::fputs(kRenderUsage, stderr);
        return 2;
    }
    Stage stage;
    if (const int code = OpenStage(o.module, o.settings, &stage)) return CloseStage(&stage, code);

    Job job{&o, stage.instance.get(), ParsePattern(o.input), ParsePattern(o.map),
            ParsePattern(o.output)};
    const auto start = std::chrono::steady_clock::now();
    int code = RenderFrames(job, o.first_frame, o.last_frame, o.threads, &error);
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
