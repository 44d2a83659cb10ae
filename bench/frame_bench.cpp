// Frame-time benchmark: renders through the module file exactly as the standalone host does
// (smart pre-render, smart render, layer and parameter checkouts), one frame per iteration.
//
//   frame/CONFIG/WxH/Dbit       frames per second of the plain module
//   breakdown/CONFIG/WxH/Dbit   the same frames with the GL calls timed per stage (ms per frame)
//   memcpy/LAYERS/WxH/Dbit      the floor for the transfers: the layers copied up, the output down
//   looks/frame/WxH/Dbit        a session changing its look every few frames: each look's first
//                               frame beside a steady frame of it (ms)
//   looks/breakdown/WxH/Dbit    the same, every frame's program builds and draws timed (ms)
//   looks/inturn/WxH/Dbit       more looks than a thread keeps programs for, drawn in turn: the
//                               mean frame once each has been drawn (ms)
//
// Mesa keeps the code it generates for a program on disk, and finds it again for the same
// program in any later session: MESA_SHADER_CACHE_DISABLE=true makes every look of the looks
// cases new to the driver too, as it is the first time a machine sees it.
//
// Options of its own (before or among Google Benchmark's): --vexo_module=PATH (default: the
// module beside the executable), --vexo_input=IMAGE and --vexo_map=IMAGE (render these frames,
// at the input's size, instead of the generated 1080p and 2160p ones), --vexo_timing=auto|query|
// wall (how the breakdown times the GPU stages). Without --benchmark_min_time each case runs for
// at least 0.3 s, so heavy cases run a single frame.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "bench/gl_timing.h"
#include "params/param_table.h"
#include "standalone/hugepages.h"
#include "standalone/image_io.h"
#include "standalone/instance.h"
#include "standalone/module.h"
#include "standalone/render_host.h"
#include "standalone/session.h"
#include "standalone/world.h"

using vexo_host::World;

namespace {

struct Options {
    std::string module;
    std::string input, map;  // image files; empty: generated frames
    vexo_bench::Timing timing = vexo_bench::Timing::kAuto;
};

Options g_options;
vexo_host::Session g_session;

struct Edit {
    PF_ParamIndex index;
    double value;  // in the stream's units
};

struct Config {
    const char* name;
    bool map;
    std::vector<Edit> edits;
};

// Every case but the first builds on "transform", so each row adds one feature's cost to a
// realistic displacement.
const std::vector<Config>& Configs() {
    static const std::vector<Edit> transform = {
        {kParamTranslateX, 10}, {kParamTranslateY, -5}, {kParamRotate, 15}, {kParamScaleX, 120}};
    static const auto with = [](std::vector<Edit> extra) {
        std::vector<Edit> edits = transform;
        edits.insert(edits.end(), extra.begin(), extra.end());
        return edits;
    };
    static const std::vector<Config> configs = {
        {"zero", false, {}},
        {"transform", true, transform},
        {"softness10", true, with({{kParamMapSoftness, 10}})},
        {"chromatic", true, with({{kParamRedMultiplier, 1.05}, {kParamBlueMultiplier, 0.95}})},
        {"aa2x", true, with({{kParamAntiAliasing, kAntiAliasing2x}})},
        {"aa4x", true, with({{kParamAntiAliasing, kAntiAliasing4x}})},
        // A wide softness, blurred on cells; last, so that the size table's indices hold.
        {"softness30", true, with({{kParamMapSoftness, 30}})},
        // The controls' defaults copy the input, so "zero" measures the copy; this is the
        // smallest move through a map.
        {"translate1", true, {{kParamTranslateX, 1}}},
        // Hue wraps, so its softness blurs the colours, a pixel a texel.
        {"softness10hue", true, with({{kParamMapSoftness, 10}, {kParamChannel, kChannelHue}})},
    };
    return configs;
}

// The size table: one realistic displacement, direct and supersampled, as frames grow.
const std::vector<Config>& SizeConfigs() {
    static const std::vector<Config> configs = {
        {"direct", true, Configs()[1].edits},
        {"2x", true, Configs()[4].edits},
        {"4x", true, Configs()[5].edits},
    };
    return configs;
}

struct Frames {
    World input, map;
};

// A colourful input (ramps and a checkerboard) and a smooth map, opaque.
Frames Generate(A_long width, A_long height, int depth) {
    Frames f{vexo_host::MakeWorld(width, height, depth),
             vexo_host::MakeWorld(width, height, depth)};
    const double two_pi = 6.283185307179586;
    for (A_long y = 0; y < height; ++y) {
        for (A_long x = 0; x < width; ++x) {
            const float u = float(x) / float(width), v = float(y) / float(height);
            const float check = ((x / 32 + y / 32) & 1) ? 0.8f : 0.2f;
            const float in[4] = {1.0f, u, v, check};
            const float m = float(0.5 + 0.5 * std::sin(two_pi * 3 * u) * std::cos(two_pi * 2 * v));
            const float mp[4] = {1.0f, m, m, m};
            for (int c = 0; c < 4; ++c) {
                vexo_host::SetChannel(&f.input, x, y, c, in[c]);
                vexo_host::SetChannel(&f.map, x, y, c, mp[c]);
            }
        }
    }
    return f;
}

// Frames by size and depth, made once.
const Frames& FramesFor(A_long width, A_long height, int depth) {
    static std::map<std::tuple<A_long, A_long, int>, Frames> cache;
    const auto key = std::make_tuple(width, height, depth);
    auto found = cache.find(key);
    if (found != cache.end()) return found->second;
    Frames frames;
    if (!g_options.input.empty()) {
        std::string error;
        if (!vexo_host::ReadImage(g_options.input, depth, &frames.input, &error) ||
            (!g_options.map.empty() &&
             !vexo_host::ReadImage(g_options.map, depth, &frames.map, &error))) {
            std::fprintf(stderr, "vexo_bench: %s\n", error.c_str());
            std::exit(1);
        }
        if (g_options.map.empty()) frames.map = frames.input;
    } else {
        frames = Generate(width, height, depth);
    }
    return cache.emplace(key, std::move(frames)).first->second;
}

// Each edit set as a user sets a control; false at the first the host refuses.
bool SetEdits(vexo_host::Instance* instance, const std::vector<Edit>& edits, std::string* error) {
    for (const Edit& e : edits) {
        if (const PF_Err err = vexo_host::UserSetValue(instance, e.index, e.value)) {
            *error = "setting parameter " + std::to_string(e.index) + " failed with host error " +
                     std::to_string(err);
            return false;
        }
    }
    return true;
}

std::unique_ptr<vexo_host::Instance> MakeInstance(const Config& config, std::string* error) {
    auto instance = std::make_unique<vexo_host::Instance>(&g_session.effect);
    if (const PF_Err err = vexo_host::SetupInstance(instance.get())) {
        *error = "parameter setup failed with host error " + std::to_string(err);
        return nullptr;
    }
    if (!SetEdits(instance.get(), config.edits, error)) return nullptr;
    return instance;
}

// The problems the host found with the instance's calls, the first in `error`; whether none.
bool NoProblems(const vexo_host::Instance& instance, std::string* error) {
    const std::vector<std::string> problems = vexo_host::InstanceProblems(instance);
    if (!problems.empty()) *error = problems.front();
    return problems.empty();
}

double MsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

bool RenderOne(vexo_host::Instance* instance, const Frames& frames, bool with_map, int depth,
               World* output, std::string* error, std::optional<PF_LRect> region = {}) {
    vexo_host::FrameOptions options;
    options.depth = depth;
    options.region = region;
    std::vector<std::string> problems;
    const PF_Err err = vexo_host::RenderFrame(
        instance, vexo_host::FrameLayers{&frames.input, with_map ? &frames.map : nullptr}, options,
        output, &problems);
    if (err) {
        *error = "render failed with host error " + std::to_string(err);
        // Supersampled 4K targets exceed what some drivers allocate per texture (llvmpipe refuses
        // one of 1.5 GiB; 4K at 4x needs two of 2 GiB).
        if (err == PF_Err_OUT_OF_MEMORY) *error += " (out of memory: a render target was refused)";
    }
    if (!err && !problems.empty()) *error = problems.front();
    return !err && problems.empty();
}

// One small frame of the same case first: the driver builds its shader variants for the
// states a case uses on first use, which no measured frame should pay for.
bool WarmUp(vexo_host::Instance* instance, const Config& config, int depth, std::string* error) {
    static std::map<int, Frames> small;
    if (!small.count(depth)) small.emplace(depth, Generate(64, 36, depth));
    World output = vexo_host::MakeWorld(64, 36, depth);
    return RenderOne(instance, small.at(depth), config.map, depth, &output, error);
}

struct Case {
    const Config* config;
    A_long width, height;
    int depth;
    std::optional<PF_LRect> region = {};  // the part asked for; the whole frame when absent
    // A sequence's frames are timed past its first, which makes the thread's targets for the
    // size, as FFmpeg's are timed past its start. A still (the size table) is timed with its
    // targets' making.
    bool still = false;
};

// An instance set up for the case and warmed; null (the state skipped) on failure. A
// sequence's first frame is rendered here, and its time kept as the "first_frame_ms" counter.
std::unique_ptr<vexo_host::Instance> Prepare(benchmark::State& state, const Case& c) {
    std::string error;
    auto instance = MakeInstance(*c.config, &error);
    bool ok = instance && WarmUp(instance.get(), *c.config, c.depth, &error);
    if (ok && !c.still) {
        const Frames& frames = FramesFor(c.width, c.height, c.depth);
        World output =
            vexo_host::MakeWorld(frames.input.def.width, frames.input.def.height, c.depth);
        const auto start = std::chrono::steady_clock::now();
        ok = RenderOne(instance.get(), frames, c.config->map, c.depth, &output, &error, c.region);
        state.counters["first_frame_ms"] = MsSince(start);
    }
    if (ok) return instance;
    state.SkipWithError(error.c_str());
    return nullptr;
}

// Minor page faults of the process so far: each first touch of a fresh 4 KiB page of target
// storage is one.
double MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_minflt);
}

void Finish(benchmark::State& state, std::unique_ptr<vexo_host::Instance> instance) {
    const std::vector<std::string> problems = vexo_host::InstanceProblems(*instance);
    if (!problems.empty()) state.SkipWithError(problems.front().c_str());
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Frame(benchmark::State& state, Case c) {
    auto instance = Prepare(state, c);
    if (!instance) return;
    const Frames& frames = FramesFor(c.width, c.height, c.depth);
    World output = vexo_host::MakeWorld(frames.input.def.width, frames.input.def.height, c.depth);
    std::string error;
    const double faults_before = MinorFaults();
    uint64_t peak = 0;
    for (auto _ : state) {
        vexo_bench::ResetPeakTextureBytes();
        if (!RenderOne(instance.get(), frames, c.config->map, c.depth, &output, &error, c.region)) {
            state.SkipWithError(error.c_str());
            break;
        }
        peak = std::max(peak, vexo_bench::PeakTextureBytes());
    }
    state.counters["minor_faults"] =
        benchmark::Counter(MinorFaults() - faults_before, benchmark::Counter::kAvgIterations);
    // GPU memory the frame's targets took at most, those kept from the frame before included.
    state.counters["peak_target_MiB"] = double(peak) / double(1 << 20);
    Finish(state, std::move(instance));
}

void BM_Breakdown(benchmark::State& state, Case c) {
    auto instance = Prepare(state, c);
    if (!instance) return;
    const Frames& frames = FramesFor(c.width, c.height, c.depth);
    World output = vexo_host::MakeWorld(frames.input.def.width, frames.input.def.height, c.depth);
    std::string error;
    vexo_bench::InstallDrawHooks();
    double stage_ms[vexo_bench::kStageCount] = {};
    double frame_ms = 0;
    vexo_bench::Timing timing = vexo_bench::Timing::kWall;
    for (auto _ : state) {
        vexo_bench::BeginFrame(g_options.timing);
        const auto start = std::chrono::steady_clock::now();
        const bool ok = RenderOne(instance.get(), frames, c.config->map, c.depth, &output, &error);
        frame_ms += MsSince(start);
        const vexo_bench::FrameTimes times = vexo_bench::EndFrame();
        // A frame copied without GL times no stage; one that drew must reach its readback.
        double drawn = 0;
        for (double ms : times.ms) drawn += ms;
        if (!ok || (!times.read_back && drawn > 0)) {
            state.SkipWithError(ok ? "the frame never reached its readback" : error.c_str());
            break;
        }
        timing = times.timing;
        for (int s = 0; s < vexo_bench::kStageCount; ++s) stage_ms[s] += times.ms[s];
    }
    vexo_bench::UninstallDrawHooks();

    // Per frame, in milliseconds. Stages the case does not run are left out.
    const auto per_frame = [](double total) {
        return benchmark::Counter(total, benchmark::Counter::kAvgIterations);
    };
    double staged = 0;
    for (int s = 0; s < vexo_bench::kStageCount; ++s) {
        if (stage_ms[s] <= 0) continue;
        state.counters[std::string(vexo_bench::StageName(vexo_bench::Stage(s))) + "_ms"] =
            per_frame(stage_ms[s]);
        staged += stage_ms[s];
    }
    state.counters["frame_ms"] = per_frame(frame_ms);
    // With every stage bounded by glFinish the rest is the CPU's own share: host callbacks,
    // parameter checkouts, the output fill, uniform and vertex setup.
    if (timing == vexo_bench::Timing::kWall)
        state.counters["other_ms"] = per_frame(frame_ms - staged);
    state.SetLabel(timing == vexo_bench::Timing::kWall ? "glFinish-bounded wall time"
                                                       : "GL timer queries");
    Finish(state, std::move(instance));
}

// A session that changes its look every few frames, each look the one before with one more
// control changed across what selects the displacement's program. The first look is the render
// thread's first, whose first frame makes its context.
struct Look {
    const char* name;
    std::vector<Edit> edits;
};

const std::vector<Look>& Looks() {
    static const std::vector<Look> looks = {
        {"still", {{kParamTranslateX, 10}, {kParamTranslateY, -5}, {kParamScaleX, 120}}},
        {"rotated", {{kParamRotate, 15}}},
        {"green", {{kParamChannel, kChannelGreen}}},
        {"chromatic", {{kParamRedMultiplier, 1.05}, {kParamBlueMultiplier, 0.95}}},
        {"softness10", {{kParamMapSoftness, 10}}},
        {"aa2x", {{kParamAntiAliasing, kAntiAliasing2x}}},
    };
    return looks;
}

constexpr int kFramesPerLook = 4;

struct LookTimes {
    double first_ms = 0, steady_ms = 0;
    // Armed frames only: the first frame's program builds and draws, and a steady frame's draws.
    double build_ms = 0, first_draw_ms = 0, steady_draw_ms = 0;
};

double DrawMs(const vexo_bench::FrameTimes& t) {
    double ms = 0;
    for (vexo_bench::Stage s : {vexo_bench::kInputPass, vexo_bench::kMapPass, vexo_bench::kBlurH,
                                vexo_bench::kBlurV, vexo_bench::kUpsample, vexo_bench::kDisplace,
                                vexo_bench::kReduce, vexo_bench::kOtherDraw})
        ms += t.ms[s];
    return ms;
}

// One session on a thread of its own, so that every look is new to the thread's programs. A
// steady frame is the median of a look's frames past its first.
bool RenderLooks(const Case& c, bool armed, std::vector<LookTimes>* times, std::string* error) {
    auto instance = MakeInstance(Config{"looks", true, {}}, error);
    if (!instance) return false;
    const Frames& frames = FramesFor(c.width, c.height, c.depth);
    World output = vexo_host::MakeWorld(frames.input.def.width, frames.input.def.height, c.depth);
    for (const Look& look : Looks()) {
        if (!SetEdits(instance.get(), look.edits, error)) {
            *error = std::string("look ") + look.name + ": " + *error;
            return false;
        }
        std::vector<double> ms, draw_ms;
        LookTimes t;
        for (int frame = 0; frame < kFramesPerLook; ++frame) {
            if (armed) vexo_bench::BeginFrame(vexo_bench::Timing::kWall);
            const auto start = std::chrono::steady_clock::now();
            const bool ok = RenderOne(instance.get(), frames, true, c.depth, &output, error);
            ms.push_back(MsSince(start));
            const vexo_bench::FrameTimes stages =
                armed ? vexo_bench::EndFrame() : vexo_bench::FrameTimes{};
            if (!ok) return false;
            draw_ms.push_back(DrawMs(stages));
            if (frame == 0) t.build_ms = stages.ms[vexo_bench::kBuild];
        }
        const auto median_past_first = [](std::vector<double> v) {
            std::sort(v.begin() + 1, v.end());
            return v[1 + (v.size() - 1) / 2];
        };
        t.first_ms = ms[0];
        t.steady_ms = median_past_first(ms);
        t.first_draw_ms = draw_ms[0];
        t.steady_draw_ms = median_past_first(draw_ms);
        times->push_back(t);
    }
    return NoProblems(*instance, error);
}

void BM_LookChanges(benchmark::State& state, Case c, bool armed) {
    if (armed) vexo_bench::InstallDrawHooks();
    std::vector<LookTimes> sum(Looks().size());
    for (auto _ : state) {
        std::vector<LookTimes> times;
        std::string error;
        bool ok = false;
        std::thread([&] { ok = RenderLooks(c, armed, &times, &error); }).join();
        if (!ok) {
            state.SkipWithError(error.c_str());
            break;
        }
        for (size_t k = 0; k < times.size(); ++k) {
            sum[k].first_ms += times[k].first_ms;
            sum[k].steady_ms += times[k].steady_ms;
            sum[k].build_ms += times[k].build_ms;
            sum[k].first_draw_ms += times[k].first_draw_ms;
            sum[k].steady_draw_ms += times[k].steady_draw_ms;
        }
    }
    if (armed) vexo_bench::UninstallDrawHooks();
    const auto per_session = [](double total) {
        return benchmark::Counter(total, benchmark::Counter::kAvgIterations);
    };
    double worst = 0;
    // The thread's first look is reported steady only: its first frame made the context.
    state.counters[std::string(Looks()[0].name) + "_steady_ms"] = per_session(sum[0].steady_ms);
    for (size_t k = 1; k < Looks().size(); ++k) {
        const std::string name = Looks()[k].name;
        const LookTimes& t = sum[k];
        state.counters[name + "_first_ms"] = per_session(t.first_ms);
        state.counters[name + "_steady_ms"] = per_session(t.steady_ms);
        if (armed) {
            state.counters[name + "_first_build_ms"] = per_session(t.build_ms);
            state.counters[name + "_first_draw_ms"] = per_session(t.first_draw_ms);
            state.counters[name + "_steady_draw_ms"] = per_session(t.steady_draw_ms);
        }
        if (t.steady_ms > 0) worst = std::max(worst, t.first_ms / t.steady_ms);
    }
    state.counters["worst_first_over_steady"] = worst;
    if (armed) state.SetLabel("glFinish-bounded wall time");
}

// More looks than a thread keeps programs for, drawn in turn, as a host drawing many differently
// set instances on one thread: each look a program of its own (easing, rotation, scale). The mean
// frame once every look has been drawn once.
constexpr int kLooksInTurn = 15, kRoundsInTurn = 3;

bool RenderInTurn(const Case& c, double* later_ms, std::string* error) {
    auto instance = MakeInstance(*c.config, error);
    if (!instance) return false;
    const Frames& frames = FramesFor(c.width, c.height, c.depth);
    World output = vexo_host::MakeWorld(frames.input.def.width, frames.input.def.height, c.depth);
    const double easings[] = {kEasingNone, kEasingIn, kEasingOut, kEasingInOut};
    double ms = 0;
    for (int frame = 0; frame < kLooksInTurn * kRoundsInTurn; ++frame) {
        const int k = frame % kLooksInTurn;
        const std::vector<Edit> look = {{kParamDisplacementEasing, easings[k % 4]},
                                        {kParamRotate, (k / 4) % 2 ? 15.0 : 0.0},
                                        {kParamScaleX, k / 8 ? 120.0 : 100.0}};
        if (!SetEdits(instance.get(), look, error)) {
            *error = "look " + std::to_string(k) + ": " + *error;
            return false;
        }
        const auto start = std::chrono::steady_clock::now();
        if (!RenderOne(instance.get(), frames, true, c.depth, &output, error)) return false;
        if (frame >= kLooksInTurn) ms += MsSince(start);
    }
    *later_ms = ms / (kLooksInTurn * (kRoundsInTurn - 1));
    return NoProblems(*instance, error);
}

void BM_LooksInTurn(benchmark::State& state, Case c) {
    double sum = 0;
    for (auto _ : state) {
        double ms = 0;
        std::string error;
        bool ok = false;
        std::thread([&] { ok = RenderInTurn(c, &ms, &error); }).join();
        if (!ok) {
            state.SkipWithError(error.c_str());
            break;
        }
        sum += ms;
    }
    state.counters["later_frame_ms"] = benchmark::Counter(sum, benchmark::Counter::kAvgIterations);
}

// What any GPU path must at least pay: each layer's bytes copied once up and the output's once
// down, between buffers that stay allocated.
void BM_Memcpy(benchmark::State& state, Case c, bool with_map) {
    const Frames& frames = FramesFor(c.width, c.height, c.depth);
    const std::size_t bytes = frames.input.storage.size();
    std::vector<uint8_t> device_input(bytes), device_map(frames.map.storage.size());
    World output = vexo_host::MakeWorld(frames.input.def.width, frames.input.def.height, c.depth);
    for (auto _ : state) {
        std::memcpy(device_input.data(), frames.input.storage.data(), bytes);
        if (with_map) {
            std::memcpy(device_map.data(), frames.map.storage.data(), device_map.size());
        }
        benchmark::ClobberMemory();
        std::memcpy(output.storage.data(), device_input.data(),
                    std::min(bytes, output.storage.size()));
        benchmark::ClobberMemory();
    }
    const std::size_t moved =
        bytes + output.storage.size() + (with_map ? frames.map.storage.size() : 0);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(moved));
    state.counters["fps"] =
        benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
}

std::string SizeName(A_long width, A_long height, int depth) {
    return std::to_string(width) + "x" + std::to_string(height) + "/" + std::to_string(depth) +
           "bit";
}

// A frame case, timed by the wall clock beside the process's CPU time.
void RegisterFrameCase(const std::string& name, void (*run)(benchmark::State&, Case),
                       const Case& c) {
    benchmark::RegisterBenchmark(name.c_str(), run, c)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime()
        ->MeasureProcessCPUTime();
}

// The size table, on generated frames only: frames from 1080p to 8K, and what a viewer or a
// tile asks of a large one, a small part with a small translation.
void RegisterSizes() {
    for (const auto& [width, height] :
         {std::pair<A_long, A_long>{1920, 1080}, {3840, 2160}, {7680, 4320}}) {
        for (const Config& config : SizeConfigs()) {
            RegisterFrameCase("size/" + std::string(config.name) + "/" + SizeName(width, height, 8),
                              BM_Frame, Case{&config, width, height, 8, {}, true});
        }
    }
    static const Config small_shift{"region", true, {{kParamTranslateX, 1}}};
    static const Config whole_shift{"whole", true, {{kParamTranslateX, 1}}};
    for (const Config* config : {&small_shift, &whole_shift}) {
        Case c{config, 7680, 4320, 8, {}, true};
        if (config == &small_shift) c.region = PF_LRect{3000, 2000, 3100, 2100};
        RegisterFrameCase(
            "size/translate-1%/" + std::string(config->name) + "/" + SizeName(7680, 4320, 8),
            BM_Frame, c);
    }
}

void RegisterLooks(A_long width, A_long height) {
    static const Config looks{"looks", true, {}};
    for (bool armed : {false, true}) {
        const std::string name =
            std::string("looks/") + (armed ? "breakdown/" : "frame/") + SizeName(width, height, 8);
        benchmark::RegisterBenchmark(name.c_str(), BM_LookChanges, Case{&looks, width, height, 8},
                                     armed)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    static const Config in_turn{"inturn", true, {{kParamTranslateX, 10}, {kParamTranslateY, -5}}};
    benchmark::RegisterBenchmark(("looks/inturn/" + SizeName(width, height, 8)).c_str(),
                                 BM_LooksInTurn, Case{&in_turn, width, height, 8})
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

void Register() {
    std::vector<std::pair<A_long, A_long>> sizes = {{1920, 1080}, {3840, 2160}};
    if (g_options.input.empty()) {
        RegisterSizes();
    } else {
        const Frames& probe = FramesFor(0, 0, 8);
        sizes = {{probe.input.def.width, probe.input.def.height}};
    }
    RegisterLooks(sizes.front().first, sizes.front().second);
    for (const auto& [width, height] : sizes) {
        for (int depth : {8, 32}) {
            const std::string size = SizeName(width, height, depth);
            for (const Config& config : Configs()) {
                const Case c{&config, width, height, depth};
                const std::string tail = std::string(config.name) + "/" + size;
                RegisterFrameCase("frame/" + tail, BM_Frame, c);
                RegisterFrameCase("breakdown/" + tail, BM_Breakdown, c);
            }
            for (bool with_map : {false, true}) {
                const Case c{&Configs().front(), width, height, depth};
                const std::string name =
                    std::string("memcpy/") + (with_map ? "map/" : "nomap/") + size;
                benchmark::RegisterBenchmark(name.c_str(), BM_Memcpy, c, with_map)
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            }
        }
    }
}

// Takes --vexo_* options out of argv; false on a malformed one.
bool TakeOptions(int* argc, char** argv) {
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        const std::string a = argv[i];
        const auto value = [&](const char* flag, std::string* out) {
            const std::string prefix = std::string(flag) + "=";
            if (a.rfind(prefix, 0) != 0) return false;
            *out = a.substr(prefix.size());
            return true;
        };
        std::string timing;
        if (value("--vexo_module", &g_options.module) || value("--vexo_input", &g_options.input) ||
            value("--vexo_map", &g_options.map)) {
            continue;
        }
        if (value("--vexo_timing", &timing)) {
            if (timing == "auto") {
                g_options.timing = vexo_bench::Timing::kAuto;
            } else if (timing == "query") {
                g_options.timing = vexo_bench::Timing::kQuery;
            } else if (timing == "wall") {
                g_options.timing = vexo_bench::Timing::kWall;
            } else {
                std::fprintf(stderr, "vexo_bench: --vexo_timing is auto, query or wall\n");
                return false;
            }
            continue;
        }
        if (a.rfind("--vexo_", 0) == 0) {
            std::fprintf(stderr, "vexo_bench: unknown option %s\n", a.c_str());
            return false;
        }
        argv[kept++] = argv[i];
    }
    *argc = kept;
    argv[kept] = nullptr;
    if (!g_options.map.empty() && g_options.input.empty()) {
        std::fprintf(stderr, "vexo_bench: --vexo_map needs --vexo_input\n");
        return false;
    }
    return true;
}

// One armed frame before any case: makes this thread's context, and learns the renderer and
// whether its timer queries count, for the report's header.
bool Probe() {
    std::string error;
    auto instance = MakeInstance(Configs().front(), &error);
    vexo_bench::InstallDrawHooks();
    vexo_bench::BeginFrame(g_options.timing);
    const bool ok = instance && WarmUp(instance.get(), Configs().front(), 8, &error);
    const vexo_bench::FrameTimes times = vexo_bench::EndFrame();
    vexo_bench::UninstallDrawHooks();
    if (!ok) {
        std::fprintf(stderr, "vexo_bench: first frame failed: %s\n", error.c_str());
        return false;
    }
    benchmark::AddCustomContext("gl_renderer", vexo_bench::RendererName());
    benchmark::AddCustomContext("gl_timer_queries",
                                vexo_bench::TimerQueriesAvailable() ? "yes" : "no");
    benchmark::AddCustomContext("breakdown_timing", times.timing == vexo_bench::Timing::kWall
                                                        ? "glFinish-bounded wall time"
                                                        : "GL timer queries");
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (!TakeOptions(&argc, argv)) return 2;
    // Heavy cases (4K at 4x) take seconds a frame on a software rasterizer: a short minimum time
    // keeps them to one measured frame while light cases still run many.
    std::vector<char*> args(argv, argv + argc);
    bool has_min_time = false;
    for (int i = 1; i < argc; ++i) {
        has_min_time = has_min_time || std::strncmp(argv[i], "--benchmark_min_time", 20) == 0;
    }
    static char min_time[] = "--benchmark_min_time=0.3";
    if (!has_min_time) args.insert(args.begin() + 1, min_time);
    int count = int(args.size());
    args.push_back(nullptr);
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;

    if (g_options.module.empty()) g_options.module = vexo_host::DefaultModulePath();
    std::string error;
    if (!vexo_host::OpenSession(g_options.module, &g_session, &error)) {
        std::fprintf(stderr, "vexo_bench: %s\n", error.c_str());
        return 1;
    }
    benchmark::AddCustomContext("module", g_options.module);
    benchmark::AddCustomContext("malloc_huge_pages", vexo_host::HugePagesStatus());
    if (!Probe()) {
        vexo_host::CloseSession(&g_session);
        return 1;
    }
    Register();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    int code = 0;
    for (const std::string& problem : vexo_host::CloseSession(&g_session)) {
        std::fprintf(stderr, "vexo_bench: %s\n", problem.c_str());
        code = 1;
    }
    return code;
}
