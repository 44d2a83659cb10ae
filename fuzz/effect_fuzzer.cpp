// Drives the effect through the standalone host with sequences of commands the input spells out:
// renders of layers of any size, row length, depth and origin; edits through the host and raw
// stream values the host would never hand over (NaN, infinities, popup entries out of range or
// on a separator); buttons, undo, interface updates, unknown selectors and a global setdown and
// setup in the middle. Every render must give back what it checked out, and nothing the host
// hands out (suites, handles, GL objects of the thread's context) may outlive an input.
#include <GL/glew.h>

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "context/render_data.h"
#include "params/param_table.h"
#include "standalone/aegp_suites.h"
#include "standalone/host.h"
#include "standalone/instance.h"
#include "standalone/render_host.h"
#include "standalone/suites.h"
#include "standalone/undo.h"
#include "standalone/world.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);

namespace {

using namespace vexo_host;

// Keeps one input's memory and time bounded: frames up to 64K pixels (a million when 4x
// supersampled), sides up to 20000 so that sizes beyond the GL limits are still tried.
constexpr A_long kMaxSide = 20000;
constexpr long long kMaxPixels = 65536;
constexpr int kMaxOperations = 48;
constexpr int kMaxGlobalCycles = 2;

[[noreturn]] void Fault(const std::string& what) {
    std::fprintf(stderr, "effect_fuzzer: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

Effect& TheEffect() {
    static Effect effect;
    return effect;
}

void SetUpEffect() {
    Effect& effect = TheEffect();
    effect.entry = EffectMain;
    if (SendGlobalSetup(&effect) != PF_Err_NONE) Fault("global setup failed");
}

double InterestingDouble(FuzzedDataProvider& in) {
    static const double kValues[] = {
        std::numeric_limits<double>::quiet_NaN(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        0.0,
        -0.0,
        std::numeric_limits<double>::max(),
        std::numeric_limits<double>::lowest(),
        std::numeric_limits<double>::denorm_min(),
        1e-300,
        1e30,
        -1e30,
        0.1,
        0.0999,
        1.0005,
        1.002,
        0.999,
        5.0,  // the separator entry of every popup with one
        2.0,
        100.0,
        -100.0,
        1000.0,
        -1000.0,
        1e9,
        2147483648.0,
        -2147483649.0,
    };
    switch (in.ConsumeIntegralInRange(0, 2)) {
        case 0:
            return kValues[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kValues) - 1)];
        case 1:
            return in.ConsumeFloatingPoint<double>();
        default:
            return double(in.ConsumeIntegralInRange<int>(-1200, 1200)) / 4.0;
    }
}

A_long InterestingLong(FuzzedDataProvider& in) {
    static const A_long kValues[] = {0,
                                     1,
                                     -1,
                                     2,
                                     5,
                                     6,
                                     9,
                                     100,
                                     std::numeric_limits<A_long>::max(),
                                     std::numeric_limits<A_long>::min()};
    if (in.ConsumeBool()) {
        return kValues[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kValues) - 1)];
    }
    return in.ConsumeIntegral<A_long>();
}

// Writes a stream as a project or an expression could leave it, past every check of the host's
// user interface. Values stay representable in the parameter's own type.
void WriteRawStream(Instance* instance, PF_ParamIndex index, FuzzedDataProvider& in) {
    std::lock_guard<std::mutex> lock(instance->mutex);
    if (index < 1 || std::size_t(index) >= instance->params.size()) return;
    ParamStream& param = instance->params[std::size_t(index)];
    switch (param.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            param.value = InterestingDouble(in);
            break;
        case PF_Param_POPUP:
        case PF_Param_CHECKBOX:
            param.value = double(InterestingLong(in));
            break;
        case PF_Param_ANGLE:
            // Angles travel as 16.16 fixed point: any 32-bit pattern can arrive.
            param.value = double(InterestingLong(in)) / 65536.0;
            break;
        default:
            break;
    }
}

// A layer as a host might hand it over: any size within the budget, rows padded, short or
// negative, 8 or 32 bits whatever the render's depth, anywhere on the composition, and now and
// then without pixels. The storage always covers what the row length and height promise, so
// that reading beyond it is the effect's fault.
World MakeLayer(FuzzedDataProvider& in, int render_depth) {
    World w;
    w.depth = in.ConsumeBool() ? render_depth : (in.ConsumeBool() ? 8 : 32);
    if (w.depth != 8 && w.depth != 32) w.depth = 8;
    A_long width, height;
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
            width = height = 0;
            break;
        case 1:
            width = height = 1;
            break;
        case 2:
            width = in.ConsumeIntegralInRange<A_long>(1, kMaxSide);
            height = 1;
            break;
        case 3:
            width = 1;
            height = in.ConsumeIntegralInRange<A_long>(1, kMaxSide);
            break;
        case 4:
            width = in.ConsumeIntegralInRange<A_long>(-3, 64);
            height = in.ConsumeIntegralInRange<A_long>(-3, 64);
            break;
        default:
            width = in.ConsumeIntegralInRange<A_long>(1, 48);
            height = in.ConsumeIntegralInRange<A_long>(1, 48);
            break;
    }
    if (width > 0 && height > 0 && (long long)width * height > kMaxPixels)
        height = A_long(kMaxPixels / width);
    const A_long pixel = PixelBytes(w.depth);
    A_long rowbytes = std::max<A_long>(width, 0) * pixel;
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            break;
        case 1:
            rowbytes += in.ConsumeIntegralInRange<A_long>(1, 96);  // padded, maybe not whole pixels
            break;
        case 2:
            rowbytes -= in.ConsumeIntegralInRange<A_long>(1, 64);  // short rows
            break;
        case 3:
            rowbytes = -rowbytes;  // bottom-up
            break;
        default:
            rowbytes = InterestingLong(in);
            break;
    }
    // Exactly what the row length and height promise, so that a read past it is a fault.
    const long long promised = std::max<long long>(
        0, (long long)std::max<A_long>(height, 0) * std::max<long long>((long long)rowbytes, 0));
    const long long storage = std::min<long long>(promised, kMaxPixels * 16 * 2);
    w.storage.assign(std::size_t(storage), 0x5A);
    w.def.width = width;
    w.def.height = height;
    w.def.rowbytes = rowbytes;
    w.def.world_flags = w.depth == 32 ? kFloatWorldFlag : 0;
    w.def.pix_aspect_ratio = {1, 1};
    w.def.extent_hint = {0, 0, std::max<A_long>(width, 0), std::max<A_long>(height, 0)};
    w.def.origin_x = in.ConsumeBool() ? 0 : InterestingLong(in);
    w.def.origin_y = in.ConsumeBool() ? 0 : InterestingLong(in);
    // Row lengths the storage cannot back are lies no host tells about memory it owns.
    if (promised > storage) {
        w.def.rowbytes = width * pixel;
        w.storage.assign(std::size_t(std::max<A_long>(width, 0)) * std::size_t(pixel) *
                             std::size_t(std::max<A_long>(height, 0)),
                         0x5A);
    }
    w.def.data = w.storage.empty() ? nullptr : reinterpret_cast<PF_PixelPtr>(w.storage.data());
    if (in.ConsumeIntegralInRange(0, 15) == 0) w.def.data = nullptr;
    return w;
}

// The output the host checks out: the input's size and the render's depth, as a host makes it.
// A depth the host does not know gets 8-bit storage.
World MakeOutput(const World& input, int depth, FuzzedDataProvider& in) {
    const int storage_depth = depth == 32 ? 32 : 8;
    A_long width = std::max<A_long>(input.def.width, 0);
    A_long height = std::max<A_long>(input.def.height, 0);
    if (in.ConsumeIntegralInRange(0, 7) == 0) {  // a host that sizes the output on its own
        width = in.ConsumeIntegralInRange<A_long>(0, 40);
        height = in.ConsumeIntegralInRange<A_long>(0, 40);
    }
    return MakeWorld(width, height, storage_depth, in.ConsumeBool() ? 0 : 16);
}

// GL objects alive in the current context, among the low names a frame's objects get.
int LiveGLObjects() {
    if (!glIsVertexArray) return 0;  // entry points not loaded yet
    int alive = 0;
    for (GLuint name = 1; name <= 256; ++name) {
        alive += glIsTexture(name) + glIsBuffer(name) + glIsFramebuffer(name) +
                 glIsRenderbuffer(name) + glIsVertexArray(name) + glIsProgram(name) +
                 glIsShader(name);
    }
    return alive;
}

void CheckHostLedger(const char* after) {
    if (!OutstandingSuites().empty()) {
        Fault(std::string("suite never released after ") + after + ": " +
              OutstandingSuites().front());
    }
}

void Render(Instance* instance, FuzzedDataProvider& in) {
    FrameOptions options;
    static const int kDepths[] = {8, 32, 8, 32, 16, 0, -8, 64};
    options.depth = kDepths[in.ConsumeIntegralInRange<std::size_t>(0, std::size(kDepths) - 1)];
    if (in.ConsumeIntegralInRange(0, 3) == 0) {
        options.downsample = {InterestingLong(in), in.ConsumeIntegral<A_u_long>()};
    } else {
        options.downsample = {1, A_u_long(in.ConsumeIntegralInRange(1, 4))};
    }
    options.time = in.ConsumeIntegral<A_long>();
    const World input = MakeLayer(in, options.depth);
    const bool has_map = in.ConsumeBool();
    const World map = has_map ? MakeLayer(in, options.depth) : World();
    World given = MakeOutput(input, options.depth, in);
    if (in.ConsumeBool()) options.given_output = &given;  // else sized from the pre-render

    World output;
    std::vector<std::string> problems;
    RenderFrame(instance, FrameLayers{&input, has_map ? &map : nullptr}, options, &output,
                &problems);
    if (!problems.empty()) Fault("the host found a fault of the effect: " + problems.front());
    CheckHostLedger("a render");
}

void SendRaw(Instance* instance, FuzzedDataProvider& in) {
    // Global setup and setdown go through their own operation: sent raw, the host would lose
    // the global data they hand over.
    PF_Cmd cmd = in.ConsumeIntegralInRange<PF_Cmd>(-4, 40);
    if (cmd == PF_Cmd_GLOBAL_SETUP || cmd == PF_Cmd_GLOBAL_SETDOWN) cmd = PF_Cmd_RENDER;
    PF_OutData out{};
    if (cmd == PF_Cmd_PARAMS_SETUP || cmd == PF_Cmd_UPDATE_PARAMS_UI) {
        SendToInstance(instance, cmd, &out, nullptr);
    } else {
        // Commands that need their extra record get none; the rest ignore it.
        PF_InData in_data = MakeInstanceInData(instance);
        Send(TheEffect(), cmd, &in_data, &out, nullptr, nullptr, nullptr);
    }
    CheckHostLedger("a raw command");
}

void CycleGlobal(Instance* instance, FuzzedDataProvider& in) {
    Effect& effect = TheEffect();
    if (SendGlobalSetdown(&effect) != PF_Err_NONE) Fault("global setdown failed");
    // Renders in between find no global record; this thread keeps its own context.
    if (in.ConsumeBool()) Render(instance, in);
    SetUpEffect();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SetUpEffect();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    static int baseline_objects = -1;
    {
        auto instance = std::make_unique<Instance>(&TheEffect());
        // Now and then the effect meets an instance whose parameters were never set up.
        if (in.ConsumeIntegralInRange(0, 15) != 0) SetupInstance(instance.get());
        int global_cycles = 0;
        for (int op = 0; op < kMaxOperations && in.remaining_bytes() > 0; ++op) {
            const PF_ParamIndex index =
                in.ConsumeIntegralInRange<PF_ParamIndex>(-2, kParamCount + 2);
            switch (in.ConsumeIntegralInRange(0, 9)) {
                case 0:
                case 1:
                    Render(instance.get(), in);
                    break;
                case 2:
                    UserSetValue(instance.get(), index, InterestingDouble(in));
                    break;
                case 3:
                    WriteRawStream(instance.get(), index, in);
                    break;
                case 4:
                    UserPressButton(instance.get(), index);
                    break;
                case 5:
                    SendUpdateParamsUI(instance.get());
                    SendUserChangedParam(instance.get(), index);
                    break;
                case 6:
                    UndoLastStep();
                    break;
                case 7: {
                    std::string about;
                    SendAbout(TheEffect(), &about);
                    break;
                }
                case 8:
                    SendRaw(instance.get(), in);
                    break;
                default:
                    if (global_cycles++ < kMaxGlobalCycles) CycleGlobal(instance.get(), in);
                    break;
            }
            CheckHostLedger("a command");
        }
        const std::vector<std::string> problems = InstanceProblems(*instance);
        if (!problems.empty()) Fault("instance ends holding: " + problems.front());
    }
    ClearUndo();
    ClearSuiteEvents();
    ClearReportedInfo();
    if (LiveHandles() != 1) Fault("host handles alive: " + std::to_string(LiveHandles()));

    // Frames make and delete every GL object within themselves: once this thread has its
    // context, the count in it changes only by the programs it keeps (for looks, and the blurs
    // made on first use) and the last frame's targets it keeps for the next.
    if (local_render_data && local_render_data->context) {
        std::lock_guard<std::recursive_mutex> lock(globalMutex);
        SetCurrentContext(local_render_data->context);
        int alive = LiveGLObjects() - KeptGLObjects(local_render_data->keptTargets, 256);
        const DisplaceVariants& kept = local_render_data->displaceVariants;
        for (uint32_t program : kept.programs) alive -= program != 0;
        for (uint32_t program : kept.blurByTexel) alive -= program != 0;
        for (uint32_t program : kept.blurCells) alive -= program != 0;
        for (uint32_t program : kept.blurPacked) alive -= program != 0;
        for (const auto& pair : kept.kernelPrograms) {
            for (uint32_t program : pair) alive -= program != 0;
        }
        if (KeptBytes(local_render_data->keptTargets) > kKeptTargetBudget)
            Fault("kept targets beyond the budget");
        if (baseline_objects < 0) baseline_objects = alive;
        if (alive != baseline_objects) {
            Fault("GL objects alive in the render context: " + std::to_string(alive) + ", was " +
                  std::to_string(baseline_objects));
        }
    }
    return 0;
}
