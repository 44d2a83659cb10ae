// A frei0r module over the standalone host: it loads the effect module from its own folder and
// drives it as `vexorant render` does. Built twice: as the filter `vexorant`, whose layer is its
// own map, and as the two-input mixer `vexorant_map`, whose second input is the map layer.
//
// Every exported function is one boundary: whatever fails becomes a line on standard error and
// a frame passed through unchanged, never an exception or an abort in the host. The effect runs
// on the module's own threads, so the host's thread leaves as it came.
#include <dlfcn.h>

// The header declares the entry points without C linkage or visibility of its own.
#pragma GCC visibility push(default)
extern "C" {
#include <frei0r.h>
}
#pragma GCC visibility pop

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "standalone/frei0r_params.h"
#include "standalone/instance.h"
#include "standalone/render_host.h"
#include "standalone/session.h"
#include "standalone/undo.h"
#include "standalone/world.h"
#include "threads/module_threads.h"

#ifndef VEXO_FREI0R_NAME
#error "VEXO_FREI0R_NAME names the module"
#endif

#define VEXO_FREI0R_EXPORT extern "C"

namespace {

using namespace vexo_host;

constexpr bool kMixer = VEXO_FREI0R_MIXER != 0;
constexpr const char* kName = VEXO_FREI0R_NAME;

void Say(const std::string& text) { std::fprintf(stderr, "%s: %s\n", kName, text.c_str()); }

// What the module shares between its instances: the effect loaded once, and the parameters.
struct Plugin {
    std::mutex mutex;
    int inits = 0;
    int instances = 0;
    bool loaded = false;
    std::string load_error;
    Session session;
    std::vector<Frei0rParam> params;
    // Loaded by the process this one was forked from: its GL objects and threads are that
    // process's, and setting it down here would wait on threads the child does not have.
    bool inherited = false;
};

// Never destroyed: a host may leave without f0r_deinit, and the effect must not be set down
// during static teardown, after its threads' contexts have gone.
Plugin& P() {
    static Plugin* plugin = new Plugin;
    return *plugin;
}

std::string ModuleFolder() {
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&ModuleFolder), &info) || !info.dli_fname) return "./";
    const std::string self = info.dli_fname;
    const std::size_t slash = self.find_last_of('/');
    return slash == std::string::npos ? "./" : self.substr(0, slash + 1);
}

// Under the plugin's lock.
void Load(Plugin* p) {
    if (p->loaded || !p->load_error.empty()) return;
    const std::string path = ModuleFolder() + "VexorantPro.so";
    std::string error;
    if (!OpenSession(path, &p->session, &error)) {
        p->load_error = error;
        Say(error + "; frames pass through unchanged");
        return;
    }
    if (!BuildFrei0rParams(&p->session.effect, &p->params, &error)) {
        p->params.clear();
        for (const std::string& problem : CloseSession(&p->session)) Say(problem);
        p->load_error = error;
        Say(error + "; frames pass through unchanged");
        return;
    }
    p->loaded = true;
}

void Unload(Plugin* p) {
    if (p->inherited) return;
    if (p->loaded) {
        for (const std::string& problem : CloseSession(&p->session)) Say(problem);
    }
    p->loaded = false;
    p->load_error.clear();
    p->params.clear();
}

// The parameters, loading the effect first if the host asks before f0r_init.
const std::vector<Frei0rParam>& Params() {
    Plugin& p = P();
    std::lock_guard<std::mutex> lock(p.mutex);
    Load(&p);
    return p.params;
}

struct Frei0rInstance {
    unsigned width = 0, height = 0;
    std::size_t row_bytes = 0;           // the host's, known at the first frame
    std::unique_ptr<Instance> instance;  // null: the effect is not there; frames pass through
    // What the host set, as it reads it back.
    std::vector<double> values;
    std::vector<std::string> texts;
    // Parameters holding a value the effect refused, with the reason; while any is set the
    // frames pass through, rather than render controls other than those the user asked for.
    std::vector<std::string> refused;
    World input, map, output;
    World frame;  // the host's output frame as the effect's output; no storage of its own
    std::set<std::string> said;  // a frame fault repeats every frame; it is told once

    void SayOnce(const std::string& text) {
        if (said.insert(text).second) Say(text);
    }
};

std::string SizeText(const Frei0rInstance& f) {
    return std::to_string(f.width) + "x" + std::to_string(f.height);
}

// frei0r frames have packed rows, but FFmpeg 5.1 (libavfilter 8.44) hands its frei0r filters
// frames whose rows it pads to 64 bytes, input and output alike: 854 pixels wide, rows of 3456
// bytes rather than 3416. Read as packed, such a frame comes out sheared with its last rows
// black. Measured with FFmpeg 5.1.9 on x86-64 over decoded, generated and cropped inputs and
// with every -cpuflags setting; other FFmpeg versions are taken at frei0r's word. The caller is
// FFmpeg when the address the entry point returns to lies in libavfilter.
std::size_t HostRowBytes(const void* caller, unsigned width) {
    const std::size_t packed = std::size_t(width) * 4;
    Dl_info info{};
    if (!caller || !dladdr(caller, &info) || !info.dli_fname) return packed;
    const char* base = std::strrchr(info.dli_fname, '/');
    base = base ? base + 1 : info.dli_fname;
    if (std::strncmp(base, "libavfilter.so", 14) != 0) return packed;
    void* library = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!library) return packed;
    unsigned version = 0;
    if (auto* avfilter_version =
            reinterpret_cast<unsigned (*)()>(dlsym(library, "avfilter_version")))
        version = avfilter_version();
    dlclose(library);
    if (version >> 8 != (8u << 8 | 44u)) return packed;
    return (packed + 63) / 64 * 64;
}

// The effect keeps a GL context and per-thread state on every thread it renders on, released
// when that thread ends. A host's thread that ends while the host calls exit() would release
// them inside the GL libraries as those tear down (GStreamer: "double free or corruption" at
// exit), and a host thread with a GL context of its own would have ours made current over it.
// So the effect runs on the module's own threads (threads/module_threads.h). They are ended,
// and their records with them, only from a host's call that leaves the module without
// instances, not at its exit. The module is never unloaded (-z nodelete) so that a thread's
// code stays mapped.

void MarkInherited() { P().inherited = P().inherited || P().loaded; }

// RetireModuleThreads from an entry point, on the host's thread.
void Retire(const char* what) {
    WatchForks(MarkInherited);
    const ForkGate gate;
    try {
        RetireModuleThreads();
    } catch (...) {
        Say(std::string(what) + ": the module's threads could not be ended");
    }
}

// Whether the effect is loaded, or failed to: after that, only some entry points use GL.
bool EffectSettled() {
    Plugin& p = P();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.loaded || !p.load_error.empty();
}

enum class GLUse { kWhenLoading, kAlways };

// Runs `body` on a module thread (or, where `gl` allows, on the caller's), with whatever it
// throws told on standard error. Returns whether it ran to its end.
template <typename F>
bool Guard(const char* what, GLUse gl, F&& body) {
    WatchForks(MarkInherited);
    const ForkGate gate;
    bool finished = false;
    const auto report = [what](const char* why) {
        try {
            Say(std::string(what) + ": " + why);
        } catch (...) {
        }
    };
    auto guarded = [&]() noexcept {
        try {
            body();
            finished = true;
        } catch (const std::bad_alloc&) {
            report("out of memory");
        } catch (const std::exception& e) {
            report(e.what());
        } catch (...) {
            report("unexpected failure");
        }
    };
    try {
        if (gl == GLUse::kWhenLoading && EffectSettled()) {
            guarded();
        } else {
            RunOnModuleThread(guarded);
        }
    } catch (...) {
        report("no thread to render on");
    }
    return finished;
}

bool ParamIndexOk(int index, const char* what) {
    const std::size_t n = Params().size();
    if (index >= 0 && std::size_t(index) < n) return true;
    Say(std::string(what) + ": there is no parameter " + std::to_string(index) +
        (n ? " (0 to " + std::to_string(n - 1) + ")" : ""));
    return false;
}

void SetParam(Frei0rInstance* f, const void* value, int index) {
    const Frei0rParam& p = Params()[std::size_t(index)];
    double stream = 0;
    std::string why;
    bool ok = false;
    if (p.kind == Frei0rKind::kString) {
        const char* text = *static_cast<const char* const*>(value);
        ok = Frei0rTextToStream(p, text, &stream, &why);
        if (ok) f->texts[std::size_t(index)] = text;
    } else {
        const double number = *static_cast<const double*>(value);
        ok = Frei0rValueToStream(p, number, &stream, &why);
        if (ok) f->values[std::size_t(index)] = p.kind == Frei0rKind::kBool ? stream : number;
    }
    std::string& refused = f->refused[std::size_t(index)];
    if (!ok) {
        // Hosts set every parameter before every frame: tell each new refusal once.
        if (refused != why) Say(why + "; frames pass through unchanged");
        refused = why;
        return;
    }
    refused.clear();
    if (!f->instance) return;
    if (stream == f->instance->params[std::size_t(p.index)].value) return;
    if (const PF_Err err = UserSetValue(f->instance.get(), p.index, stream)) {
        refused = p.name + ": the effect refused the value (host error " + std::to_string(err) +
                  (f->instance->refusal.empty() ? "" : ", " + f->instance->refusal) + ")";
        Say(refused + "; frames pass through unchanged");
    }
    // Frames have no undo; keep the journal from growing with every animated value.
    ForgetInstance(f->instance.get());
}

// Host frames are red, green, blue, alpha; the host's worlds alpha first. Read as one word, a
// pixel's bytes turn by one byte either way: a rotation, four pixels at a time, which compilers
// keep in vector registers where a byte-by-byte shuffle stays a byte loop.
template <int kLeft, typename Word>
Word Rotated(Word v) {
    return v << kLeft | v >> (32 - kLeft);
}

// `src` may be `dst`.
template <bool kToWorld>
void TurnRow(const uint8_t* src, uint8_t* dst, std::size_t pixels) {
    constexpr int kLeft = kToWorld == (__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__) ? 8 : 24;
    using Quad = uint32_t __attribute__((vector_size(16)));
    std::size_t x = 0;
    for (; x + 4 <= pixels; x += 4) {
        Quad v;
        std::memcpy(&v, src + 4 * x, sizeof v);
        v = Rotated<kLeft>(v);
        std::memcpy(dst + 4 * x, &v, sizeof v);
    }
    for (; x < pixels; ++x) {
        uint32_t v;
        std::memcpy(&v, src + 4 * x, sizeof v);
        v = Rotated<kLeft>(v);
        std::memcpy(dst + 4 * x, &v, sizeof v);
    }
}

void ToWorld(const uint32_t* frame, std::size_t row_bytes, World* world) {
    for (A_long y = 0; y < world->def.height; ++y) {
        TurnRow<true>(
            reinterpret_cast<const uint8_t*>(frame) + std::size_t(y) * row_bytes,
            reinterpret_cast<uint8_t*>(world->def.data) + std::ptrdiff_t(y) * world->def.rowbytes,
            std::size_t(world->def.width));
    }
}

void FromWorld(const World& world, std::size_t row_bytes, uint32_t* frame) {
    for (A_long y = 0; y < world.def.height; ++y) {
        TurnRow<false>(reinterpret_cast<const uint8_t*>(world.def.data) +
                           std::ptrdiff_t(y) * world.def.rowbytes,
                       reinterpret_cast<uint8_t*>(frame) + std::size_t(y) * row_bytes,
                       std::size_t(world.def.width));
    }
}

// Whether two of the host's frames share any byte.
bool Overlaps(const Frei0rInstance& f, const uint32_t* a, const uint32_t* b) {
    if (!a || !b) return false;
    const std::size_t bytes = f.row_bytes * (f.height - 1) + std::size_t(f.width) * 4;
    const auto at = [](const uint32_t* p) { return reinterpret_cast<std::uintptr_t>(p); };
    return at(a) < at(b) + bytes && at(b) < at(a) + bytes;
}

void PassThrough(const Frei0rInstance& f, const uint32_t* in, uint32_t* out) {
    if (in == out) return;
    const std::size_t bytes = std::size_t(f.width) * 4;
    for (std::size_t y = 0; y < f.height; ++y) {
        const std::size_t at = y * f.row_bytes;
        if (in) {
            std::memmove(reinterpret_cast<char*>(out) + at, reinterpret_cast<const char*>(in) + at,
                         bytes);
        } else {
            std::memset(reinterpret_cast<char*>(out) + at, 0, bytes);
        }
    }
}

// Renders one frame, or says why not and leaves the input in `out`.
void Update(Frei0rInstance* f, double time, const uint32_t* in, const uint32_t* map,
            uint32_t* out) {
    if (!out) {
        f->SayOnce("a frame without an output buffer is skipped");
        return;
    }
    if (f->width == 0 || f->height == 0) {
        f->SayOnce("a " + SizeText(*f) + " frame has no pixels to render");
        return;
    }
    if (!in) {
        f->SayOnce("a frame without its input is left black");
        return PassThrough(*f, nullptr, out);
    }
    if (kMixer && !map) {
        f->SayOnce("a frame without its map passes through");
        return PassThrough(*f, in, out);
    }
    if (!f->instance) return PassThrough(*f, in, out);
    for (const std::string& why : f->refused) {
        if (!why.empty()) return PassThrough(*f, in, out);
    }
    // The host's worlds count in 32-bit rows; the GPU's limits the effect checks itself.
    const uint64_t row_bytes = uint64_t(f->width) * 4;
    if (row_bytes > uint64_t(std::numeric_limits<A_long>::max()) ||
        f->height > unsigned(std::numeric_limits<A_long>::max())) {
        f->SayOnce("a " + SizeText(*f) + " frame is too large to render; passed through");
        return PassThrough(*f, in, out);
    }
    if (f->input.storage.empty()) {
        f->input = MakeWorld(A_long(f->width), A_long(f->height), 8);
        if (kMixer) f->map = MakeWorld(A_long(f->width), A_long(f->height), 8);
    }
    ToWorld(in, f->row_bytes, &f->input);
    if (kMixer) ToWorld(map, f->row_bytes, &f->map);
    // The effect renders into the host's own frame, turned to the host's order where it lies:
    // no world of ours to fill, and no copy out. Not where that frame is an input too: the
    // effect clears its output first, and a frame that fails must come back as it went in.
    const bool into_frame = !Overlaps(*f, out, in) && !(kMixer && Overlaps(*f, out, map)) &&
                            f->row_bytes <= std::size_t(std::numeric_limits<A_long>::max());
    World* output = &f->output;
    if (into_frame) {
        output = &f->frame;
        output->def = f->input.def;
        output->def.data = reinterpret_cast<PF_PixelPtr>(out);
        output->def.rowbytes = A_long(f->row_bytes);
    } else if (f->output.storage.empty()) {
        f->output = MakeWorld(A_long(f->width), A_long(f->height), 8);
    }

    FrameOptions options;
    options.depth = 8;
    // The host's time is in seconds; the effect's in its time scale's units.
    const PF_InData in_data = MakeInData(*f->instance->effect, nullptr);
    const double units = time * double(in_data.time_scale);
    options.time = std::isfinite(units) && std::fabs(units) < 2e9 ? A_long(std::lround(units)) : 0;
    std::string shown;
    options.message = &shown;
    options.given_output = output;
    std::vector<std::string> problems;
    const PF_Err err =
        RenderFrame(f->instance.get(), FrameLayers{&f->input, kMixer ? &f->map : nullptr}, options,
                    output, &problems);
    for (const std::string& problem : problems) f->SayOnce(problem);
    if (err) {
        f->SayOnce("a " + SizeText(*f) + " frame failed to render (" +
                   (shown.empty() ? "" : shown + ", ") + "host error " + std::to_string(err) +
                   "); passed through");
        return PassThrough(*f, in, out);
    }
    if (!into_frame) return FromWorld(f->output, f->row_bytes, out);
    for (unsigned y = 0; y < f->height; ++y) {
        uint8_t* row = reinterpret_cast<uint8_t*>(out) + std::size_t(y) * f->row_bytes;
        TurnRow<false>(row, row, f->width);
    }
}

// A frame the module's thread could not finish (memory for its worlds refused, no thread to
// render on) still reaches the host: its input, passed through on the host's own thread.
void UpdateFrame(const char* what, const void* caller, f0r_instance_t instance, double time,
                 const uint32_t* in, const uint32_t* map, uint32_t* out) {
    auto* f = static_cast<Frei0rInstance*>(instance);
    if (!f) {
        Guard(what, GLUse::kWhenLoading, [&] { Say(std::string(what) + " without an instance"); });
        return;
    }
    if (!f->row_bytes) f->row_bytes = HostRowBytes(caller, f->width);
    const bool finished = Guard(what, GLUse::kAlways, [&] { Update(f, time, in, map, out); });
    if (!finished && out) PassThrough(*f, in, out);
}

}  // namespace

VEXO_FREI0R_EXPORT int f0r_init() {
    int ok = 0;
    Guard("f0r_init", GLUse::kAlways, [&] {
        Plugin& p = P();
        std::lock_guard<std::mutex> lock(p.mutex);
        ++p.inits;
        Load(&p);
        ok = p.loaded ? 1 : 0;
    });
    return ok;
}

VEXO_FREI0R_EXPORT void f0r_deinit() {
    Guard("f0r_deinit", GLUse::kAlways, [&] {
        Plugin& p = P();
        std::lock_guard<std::mutex> lock(p.mutex);
        if (p.inits > 0) --p.inits;
        // Some hosts load a module more than once; the effect stays until the last is done.
        if (p.inits == 0 && p.instances == 0) Unload(&p);
    });
    Retire("f0r_deinit");
}

VEXO_FREI0R_EXPORT void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    Guard("f0r_get_plugin_info", GLUse::kWhenLoading, [&] {
        if (!info) return;
        info->name = kName;
        info->author = "Vexorant";
        info->plugin_type = kMixer ? F0R_PLUGIN_TYPE_MIXER2 : F0R_PLUGIN_TYPE_FILTER;
        info->color_model = F0R_COLOR_MODEL_RGBA8888;
        info->frei0r_version = FREI0R_MAJOR_VERSION;
        info->major_version = 1;
        info->minor_version = 1;
        info->num_params = int(Params().size());
        info->explanation = kMixer ? "Vexorant Pro: displaces the first input by the second, "
                                     "its map layer"
                                   : "Vexorant Pro: displaces the input by its own map";
    });
}

VEXO_FREI0R_EXPORT void f0r_get_param_info(f0r_param_info_t* info, int index) {
    Guard("f0r_get_param_info", GLUse::kWhenLoading, [&] {
        if (!info || !ParamIndexOk(index, "f0r_get_param_info")) return;
        const Frei0rParam& p = Params()[std::size_t(index)];
        info->name = p.name.c_str();
        info->type = p.kind == Frei0rKind::kBool     ? F0R_PARAM_BOOL
                     : p.kind == Frei0rKind::kString ? F0R_PARAM_STRING
                                                     : F0R_PARAM_DOUBLE;
        info->explanation = p.explanation.c_str();
    });
}

VEXO_FREI0R_EXPORT f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    Frei0rInstance* made = nullptr;
    Guard("f0r_construct", GLUse::kAlways, [&] {
        auto f = std::make_unique<Frei0rInstance>();
        f->width = width, f->height = height;
        const std::vector<Frei0rParam>& params = Params();
        for (const Frei0rParam& p : params) {
            f->values.push_back(p.frei0r_default);
            f->texts.push_back(p.kind == Frei0rKind::kString ? PopupText(p, p.stream_default) : "");
        }
        f->refused.resize(params.size());
        Plugin& plugin = P();
        std::lock_guard<std::mutex> lock(plugin.mutex);
        if (plugin.loaded) {
            f->instance = std::make_unique<Instance>(&plugin.session.effect);
            if (const PF_Err err = SetupInstance(f->instance.get())) {
                Say("parameter setup failed with host error " + std::to_string(err) +
                    "; frames pass through unchanged");
                f->instance.reset();
            }
        }
        ++plugin.instances;
        made = f.release();
    });
    return made;
}

VEXO_FREI0R_EXPORT void f0r_destruct(f0r_instance_t instance) {
    bool last = false;
    Guard("f0r_destruct", GLUse::kAlways, [&] {
        auto* f = static_cast<Frei0rInstance*>(instance);
        if (!f) return;
        if (f->instance) {
            for (const std::string& problem : InstanceProblems(*f->instance)) Say(problem);
        }
        delete f;
        Plugin& p = P();
        std::lock_guard<std::mutex> lock(p.mutex);
        if (p.instances > 0) --p.instances;
        if (p.inits == 0 && p.instances == 0) Unload(&p);
        last = p.instances == 0;
    });
    // An editor that tried the effect and removed it gets its memory back.
    if (last) Retire("f0r_destruct");
}

VEXO_FREI0R_EXPORT void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    Guard("f0r_set_param_value", GLUse::kWhenLoading, [&] {
        auto* f = static_cast<Frei0rInstance*>(instance);
        if (!f || !param) return Say("f0r_set_param_value without an instance or a value");
        if (ParamIndexOk(index, "f0r_set_param_value")) SetParam(f, param, index);
    });
}

VEXO_FREI0R_EXPORT void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int index) {
    Guard("f0r_get_param_value", GLUse::kWhenLoading, [&] {
        auto* f = static_cast<Frei0rInstance*>(instance);
        if (!f || !param) return Say("f0r_get_param_value without an instance or a place");
        if (!ParamIndexOk(index, "f0r_get_param_value")) return;
        if (Params()[std::size_t(index)].kind == Frei0rKind::kString) {
            *static_cast<const char**>(param) = f->texts[std::size_t(index)].c_str();
        } else {
            *static_cast<double*>(param) = f->values[std::size_t(index)];
        }
    });
}

VEXO_FREI0R_EXPORT void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe,
                                   uint32_t* outframe) {
    UpdateFrame("f0r_update", __builtin_return_address(0), instance, time, inframe,
                kMixer ? nullptr : inframe, outframe);
}

VEXO_FREI0R_EXPORT void f0r_update2(f0r_instance_t instance, double time, const uint32_t* inframe1,
                                    const uint32_t* inframe2, const uint32_t* /*inframe3*/,
                                    uint32_t* outframe) {
    UpdateFrame("f0r_update2", __builtin_return_address(0), instance, time, inframe1,
                kMixer ? inframe2 : inframe1, outframe);
}
