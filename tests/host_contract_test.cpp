// Where the effect meets the host: the pre-render's answer and the checkouts behind it, the
// calls the host takes only during certain commands, and the property list held against global
// setup. Faulty effects are the real one behind a wrapper that gets one thing wrong.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "effect/VexorantPro.h"
#include "host/AEGP_SuiteHandler.h"
#include "standalone/session.h"
#include "standalone/suites.h"
#include "tests/support/host_test_support.h"
#include "tests/support/render_test_support.h"

using namespace vexo_host;

namespace {

// ---- The pre-render's answer.

enum class Fault {
    kNone,
    kEmptyResult,        // promises nothing for a frame that has pixels
    kShiftedResult,      // one pixel to the right of what the input gives
    kGrownResult,        // wider than the request, maximum grown to match
    kZeroedMaximum,      // maximum left empty
    kInvertedResult,     // left and right swapped
    kZeroedRequest,      // checks the layers out with an all-zero request
    kNoInputCheckout,    // never asks for the input layer
    kSwallowedCheckout,  // answers success after the host refused a checkout
};

Fault g_fault = Fault::kNone;
PF_PreRenderCallbacks* g_host_callbacks = nullptr;
PF_Err g_map_checkout_error = PF_Err_NONE;  // the host's answer to the map's checkout, if set
const PF_RenderRequest* g_asked = nullptr;  // replaces the host's request, if set
bool g_render_sent = false;

struct SeenCheckout {
    PF_ParamIndex index;
    A_long id;
    PF_RenderRequest request;
    A_long time, step;
    A_u_long scale;
};
std::vector<SeenCheckout> g_seen;

PF_Err WrappedCheckout(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long id,
                       const PF_RenderRequest* request, A_long time, A_long step, A_u_long scale,
                       PF_CheckoutResult* result) {
    g_seen.push_back({index, id, *request, time, step, scale});
    PF_RenderRequest sent = *request;
    if (g_fault == Fault::kZeroedRequest) sent = PF_RenderRequest{};
    PF_Err err = PF_Err_NONE;
    if (g_fault == Fault::kNoInputCheckout && index == kParamInputLayer) {
        *result = PF_CheckoutResult{};
    } else if (index == kParamMapLayer && g_map_checkout_error) {
        err = g_map_checkout_error;
    } else {
        err = g_host_callbacks->checkout_layer(effect_ref, index, id, &sent, time, step, scale,
                                               result);
    }
    return g_fault == Fault::kSwallowedCheckout ? PF_Err_NONE : err;
}

PF_Err WrappedEffect(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                     PF_LayerDef* output, void* extra) {
    if (cmd == PF_Cmd_SMART_RENDER) g_render_sent = true;
    if (cmd != PF_Cmd_SMART_PRE_RENDER) {
        return EffectMain(cmd, in_data, out_data, params, output, extra);
    }
    auto* pre = static_cast<PF_PreRenderExtra*>(extra);
    if (g_asked) pre->input->output_request = *g_asked;
    g_host_callbacks = pre->cb;
    PF_PreRenderCallbacks wrapped = *pre->cb;
    wrapped.checkout_layer = WrappedCheckout;
    pre->cb = &wrapped;
    const PF_Err err = EffectMain(cmd, in_data, out_data, params, output, extra);
    pre->cb = g_host_callbacks;

    PF_LRect& result = pre->output->result_rect;
    switch (g_fault) {
        case Fault::kEmptyResult:
            result = PF_LRect{0, 0, 0, 0};
            break;
        case Fault::kShiftedResult:
            result.left += 1;
            result.right += 1;
            break;
        case Fault::kGrownResult:
            result.right += 4;
            pre->output->max_result_rect.right += 4;
            break;
        case Fault::kZeroedMaximum:
            pre->output->max_result_rect = PF_LRect{0, 0, 0, 0};
            break;
        case Fault::kInvertedResult:
            std::swap(result.left, result.right);
            break;
        default:
            break;
    }
    return err;
}

class PreRenderContract : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        g_fault = Fault::kNone;
        g_map_checkout_error = PF_Err_NONE;
        g_asked = nullptr;
        g_render_sent = false;
        g_seen.clear();
        effect_.entry = WrappedEffect;
    }
    void TearDown() override {
        effect_.entry = EffectMain;
        g_fault = Fault::kNone;
        g_map_checkout_error = PF_Err_NONE;
        g_asked = nullptr;
        RenderTest::TearDown();
    }
    PF_Err RenderWith(const World* map, World* output, std::vector<std::string>* problems) {
        FrameOptions options;
        options.time = 5;
        return RenderFrame(instance_.get(), FrameLayers{&input_, map}, options, output, problems);
    }

    const World input_ = Fill(16, 8, 8, [](A_long x, A_long y, float argb[4]) {
        argb[0] = 1.0f;
        argb[1] = float(x) / 16;
        argb[2] = float(y) / 8;
        argb[3] = 0.5f;
    });
    const World map_ = MakeWorld(40, 30, 8);
};

bool SameRequest(const PF_RenderRequest& a, const PF_RenderRequest& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The host's request in all but the rectangle, which holds the part asked for and, around it, no
// more than the sampling's reach: with the default controls nothing is displaced.
bool AroundTheRequest(const PF_RenderRequest& seen, const PF_RenderRequest& asked) {
    PF_RenderRequest rest = seen;
    rest.rect = asked.rect;
    constexpr A_long kReach = 8;
    const PF_LRect& r = seen.rect;
    return SameRequest(rest, asked) && r.left <= asked.rect.left && r.top <= asked.rect.top &&
           r.right >= asked.rect.right && r.bottom >= asked.rect.bottom &&
           r.left >= asked.rect.left - kReach && r.top >= asked.rect.top - kReach &&
           r.right <= asked.rect.right + kReach && r.bottom <= asked.rect.bottom + kReach;
}

// Where the input lies is asked first, with the host's own request; then the input's part and the
// map's, under the render's checkout ids.
void ExpectCheckoutsFor(const PF_RenderRequest& asked) {
    ASSERT_EQ(g_seen.size(), 3u) << "the map layer is checked out even when it names none";
    EXPECT_EQ(g_seen[0].index, kParamInputLayer);
    EXPECT_TRUE(SameRequest(g_seen[0].request, asked));
    const PF_ParamIndex indices[] = {kParamInputLayer, kParamInputLayer, kParamMapLayer};
    const A_long ids[] = {2, 0, 1};
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(g_seen[i].index, indices[i]);
        EXPECT_EQ(g_seen[i].id, ids[i]);
        if (i > 0) {
            EXPECT_TRUE(AroundTheRequest(g_seen[i].request, asked));
        }
        EXPECT_EQ(g_seen[i].time, 5);
        EXPECT_EQ(g_seen[i].step, 1);
        EXPECT_EQ(g_seen[i].scale, 24u);
    }
}

TEST_F(PreRenderContract, BothLayersAreAskedForWhatIsReadAndTheOutputIsTheInputsRectangle) {
    World output;
    std::vector<std::string> problems;
    ASSERT_EQ(RenderWith(&map_, &output, &problems), PF_Err_NONE);
    EXPECT_TRUE(problems.empty()) << problems.front();

    PF_RenderRequest whole{};
    whole.rect = PF_LRect{0, 0, 16, 8};
    whole.channel_mask = 0xF;
    ExpectCheckoutsFor(whole);
    // A larger map does not enlarge the output: it is the input's, where the input lies.
    EXPECT_EQ(output.def.width, 16);
    EXPECT_EQ(output.def.height, 8);
    EXPECT_EQ(output.def.origin_x, 0);
    EXPECT_EQ(output.def.origin_y, 0);
    EXPECT_EQ(MaxDifference(output, input_), 0.0f);
}

TEST_F(PreRenderContract, APartialRequestChecksOutWhatItReadsAndPlacesTheOutput) {
    PF_RenderRequest part{};
    part.rect = PF_LRect{2, 1, 10, 7};
    part.field = 1;
    part.channel_mask = 0x7;
    part.preserve_rgb_of_zero_alpha = 1;
    g_asked = &part;
    World output;
    std::vector<std::string> problems;
    ASSERT_EQ(RenderWith(nullptr, &output, &problems), PF_Err_NONE);
    EXPECT_TRUE(problems.empty()) << problems.front();
    ExpectCheckoutsFor(part);
    EXPECT_EQ(output.def.width, 8);
    EXPECT_EQ(output.def.height, 6);
    EXPECT_EQ(output.def.origin_x, 2);
    EXPECT_EQ(output.def.origin_y, 1);
    // The input comes back where it lies, not its first rows and columns.
    for (A_long y = 0; y < 6; ++y) {
        for (A_long x = 0; x < 8; ++x) {
            for (int c = 0; c < 4; ++c) {
                ASSERT_EQ(GetChannel(output, x, y, c), GetChannel(input_, x + 2, y + 1, c));
            }
        }
    }
}

struct FaultCase {
    const char* name;
    Fault fault;
    const char* problem;  // part of what the host reports
};

class WrongPreRenderAnswer : public PreRenderContract,
                             public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WrongPreRenderAnswer, FailsTheFrameBeforeTheRender) {
    const FaultCase& c = GetParam();
    g_fault = c.fault;
    if (c.fault == Fault::kSwallowedCheckout) FailCall("checkout_layer", PF_Err_OUT_OF_MEMORY);
    World output;
    std::vector<std::string> problems;
    const PF_Err err = RenderWith(&map_, &output, &problems);
    EXPECT_NE(err, PF_Err_NONE);
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems.front().find(c.problem), std::string::npos) << problems.front();
    EXPECT_FALSE(g_render_sent);
    EXPECT_TRUE(output.storage.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachHostCheck, WrongPreRenderAnswer,
    ::testing::Values(
        FaultCase{"EmptyResult", Fault::kEmptyResult, "promises nothing"},
        FaultCase{"ShiftedResult", Fault::kShiftedResult, "reaches outside the maximum"},
        FaultCase{"GrownResult", Fault::kGrownResult, "reaches outside the request"},
        FaultCase{"ZeroedMaximum", Fault::kZeroedMaximum, "reaches outside the maximum"},
        FaultCase{"InvertedResult", Fault::kInvertedResult, "inverted"},
        FaultCase{"ZeroedRequest", Fault::kZeroedRequest, "asks for no pixels"},
        FaultCase{"NoInputCheckout", Fault::kNoInputCheckout, "did not check out the input layer"},
        FaultCase{"SwallowedCheckoutError", Fault::kSwallowedCheckout,
                  "after checkout_layer failed with"}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

TEST_F(PreRenderContract, ACheckoutTheHostRefusesEndsThePreRenderWithItsCode) {
    World output;
    std::vector<std::string> problems;
    FailCall("checkout_layer", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(RenderWith(&map_, &output, &problems), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(g_seen.size(), 1u) << "the map layer is not asked for after the input failed";

    g_seen.clear();
    g_map_checkout_error = PF_Err_INVALID_INDEX;
    EXPECT_EQ(RenderWith(&map_, &output, &problems), PF_Err_INVALID_INDEX);
    EXPECT_EQ(g_seen.size(), 3u);
    EXPECT_TRUE(problems.empty()) << problems.front();
    EXPECT_FALSE(g_render_sent);
}

// ---- What the module declares decides how the host drives it.

struct Driven {
    std::atomic<int> in_flight{0}, most_in_flight{0};
    std::atomic<int> smart{0};  // smart pre-renders and renders
    std::atomic<int> plain{0};  // PF_Cmd_RENDER
    std::atomic<int> deep{0};   // renders at 32 bits
};
Driven* g_driven = nullptr;

// The real effect, with what a module lacking smart render does on PF_Cmd_RENDER: a copy of the
// input. Renders stay in flight a while, so that frames on several threads overlap.
PF_Err DrivenEffect(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                    PF_LayerDef* output, void* extra) {
    if (cmd == PF_Cmd_SMART_PRE_RENDER || cmd == PF_Cmd_SMART_RENDER) ++g_driven->smart;
    if (cmd != PF_Cmd_SMART_RENDER && cmd != PF_Cmd_RENDER) {
        return EffectMain(cmd, in_data, out_data, params, output, extra);
    }
    const int now = ++g_driven->in_flight;
    for (int most = g_driven->most_in_flight;
         now > most && !g_driven->most_in_flight.compare_exchange_weak(most, now);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    PF_Err err = PF_Err_NONE;
    if (cmd == PF_Cmd_RENDER) {
        ++g_driven->plain;
        if (output->world_flags & kFloatWorldFlag) ++g_driven->deep;
        const PF_LayerDef& input = params[0]->u.ld;
        for (A_long y = 0; y < std::min(input.height, output->height); ++y) {
            std::memcpy(reinterpret_cast<char*>(output->data) + y * output->rowbytes,
                        reinterpret_cast<const char*>(input.data) + y * input.rowbytes,
                        std::size_t(std::min(input.rowbytes, output->rowbytes)));
        }
    } else {
        if (static_cast<PF_SmartRenderExtra*>(extra)->input->bitdepth == 32) ++g_driven->deep;
        err = EffectMain(cmd, in_data, out_data, params, output, extra);
    }
    --g_driven->in_flight;
    return err;
}

struct FlagCase {
    const char* name;
    PF_OutFlags2 dropped;  // from what the effect declares
    bool smart;            // driven through the smart commands, else PF_Cmd_RENDER
    bool deep;             // a 32-bit frame renders at 32 bits, else at 8 and converted
    bool one_at_a_time;    // frames asked for on several threads never overlap
};

class DeclaredFlags : public RenderTest, public ::testing::WithParamInterface<FlagCase> {
  protected:
    void TearDown() override {
        effect_.entry = EffectMain;
        effect_.out_flags2 = vexo::kOutFlags2;
        g_driven = nullptr;
        RenderTest::TearDown();
    }
};

TEST_P(DeclaredFlags, DecideTheCommandsTheDepthAndTheThreads) {
    const FlagCase& c = GetParam();
    Driven driven;
    g_driven = &driven;
    effect_.entry = DrivenEffect;
    effect_.out_flags2 = vexo::kOutFlags2 & ~c.dropped;
    const World input = Fill(16, 8, 32, [](A_long x, A_long y, float argb[4]) {
        argb[0] = 1.0f;
        argb[1] = float(x) / 16;
        argb[2] = float(y) / 8;
        argb[3] = 0.3f;
    });
    constexpr int kThreads = 3;
    World outputs[kThreads];
    PF_Err errors[kThreads];
    std::vector<std::string> problems[kThreads];
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            FrameOptions options;
            options.depth = 32;
            errors[t] = RenderFrame(instance_.get(), FrameLayers{&input, nullptr}, options,
                                    &outputs[t], &problems[t]);
        });
    }
    for (std::thread& t : threads) t.join();

    const World expected = c.deep ? input : WithDepth(WithDepth(input, 8), 32);
    for (int t = 0; t < kThreads; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(errors[t], PF_Err_NONE);
        EXPECT_TRUE(problems[t].empty()) << problems[t].front();
        EXPECT_EQ(outputs[t].depth, 32) << "the frame comes back at the depth asked for";
        // Float arithmetic may move the last bit; a frame rendered at 8 bits is 1/510 off.
        EXPECT_LT(MaxDifference(outputs[t], expected), 1e-6f);
    }
    EXPECT_EQ(driven.smart, c.smart ? 2 * kThreads : 0);
    EXPECT_EQ(driven.plain, c.smart ? 0 : kThreads);
    EXPECT_EQ(driven.deep, c.deep ? kThreads : 0);
    if (c.one_at_a_time) {
        EXPECT_EQ(driven.most_in_flight, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EachFlag, DeclaredFlags,
    ::testing::Values(
        FlagCase{"AllDeclared", 0, true, true, false},
        FlagCase{"NoSmartRender", PF_OutFlag2_SUPPORTS_SMART_RENDER, false, false, false},
        FlagCase{"NoThreadedRendering", PF_OutFlag2_SUPPORTS_THREADED_RENDERING, true, true, true},
        FlagCase{"NoFloatColor", PF_OutFlag2_FLOAT_COLOR_AWARE, true, false, false}),
    [](const ::testing::TestParamInfo<FlagCase>& info) { return info.param.name; });

// ---- Calls the host takes only while the effect answers certain commands, on that thread.

struct Attempts {
    A_Err write = -1, flag = -1, undo = -1;
    std::string refusal;  // what the host said about the stream write
};

// A stream write, a visibility change and an undo group, as an effect might try them.
Attempts TryInstanceCalls(PF_ProgPtr effect_ref) {
    Attempts a;
    Instance* instance = InstanceFromRef(effect_ref);
    AEGP_SuiteHandler suites(BasicSuite());
    AEGP_EffectRefH effect = nullptr;
    EXPECT_EQ(suites.PFInterfaceSuite1()->AEGP_GetNewEffectForEffect(0, effect_ref, &effect), 0);
    AEGP_StreamRefH stream = nullptr;
    EXPECT_EQ(
        suites.StreamSuite9()->AEGP_GetNewEffectStreamByIndex(0, effect, kParamMapGamma, &stream),
        0);
    instance->refusal.clear();
    AEGP_StreamValue2 value{};
    value.val.one_d = 2;
    a.write = suites.StreamSuite9()->AEGP_SetStreamValue(0, stream, &value);
    a.refusal = instance->refusal;
    a.flag = suites.DynamicStreamSuite2()->AEGP_SetDynamicStreamFlag(
        stream, AEGP_DynStreamFlag_HIDDEN, false, false);
    a.undo = suites.UtilitySuite7()->AEGP_StartUndoGroup("Try");
    if (!a.undo) {
        EXPECT_EQ(suites.UtilitySuite7()->AEGP_EndUndoGroup(), 0);
    }
    EXPECT_EQ(suites.StreamSuite9()->AEGP_DisposeStream(stream), 0);
    EXPECT_EQ(suites.EffectSuite3()->AEGP_DisposeEffect(effect), 0);
    return a;
}

PF_Cmd g_try_during = kNoCommand;
bool g_try_on_other_thread = false;
Attempts g_attempts;

PF_Err TryingEffect(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data, PF_ParamDef* params[],
                    PF_LayerDef* output, void* extra) {
    // The render is not sent on: these tests make no GL context.
    const PF_Err err = cmd == PF_Cmd_SMART_RENDER
                           ? PF_Err_NONE
                           : EffectMain(cmd, in_data, out_data, params, output, extra);
    if (cmd == g_try_during) {
        if (g_try_on_other_thread) {
            std::thread([&] { g_attempts = TryInstanceCalls(in_data->effect_ref); }).join();
        } else {
            g_attempts = TryInstanceCalls(in_data->effect_ref);
        }
    }
    return err;
}

struct TimingCase {
    const char* name;
    PF_Cmd during;
    bool other_thread;
    bool write_ok, flag_ok, undo_ok;
    const char* refusal;  // part of the reason given for a refused write
};

class CallTiming : public ParamHostTest, public ::testing::WithParamInterface<TimingCase> {
  protected:
    void TearDown() override {
        effect_.entry = EffectMain;
        g_try_during = kNoCommand;
        g_try_on_other_thread = false;
        ParamHostTest::TearDown();
    }
};

TEST_P(CallTiming, IsAcceptedOnlyWhereTheCommandAllowsIt) {
    const TimingCase& c = GetParam();
    g_attempts = Attempts{};
    g_try_during = c.during;
    g_try_on_other_thread = c.other_thread;
    effect_.entry = TryingEffect;
    switch (c.during) {
        case PF_Cmd_PARAMS_SETUP: {
            Instance fresh(&effect_);
            ASSERT_EQ(SetupInstance(&fresh), PF_Err_NONE) << fresh.refusal;
            break;
        }
        case PF_Cmd_USER_CHANGED_PARAM:
            ASSERT_EQ(UserPressButton(instance_.get(), kParamResetMultipliers), PF_Err_NONE);
            break;
        case PF_Cmd_UPDATE_PARAMS_UI:
            ASSERT_EQ(SendUpdateParamsUI(instance_.get()), PF_Err_NONE);
            break;
        default: {
            const World input = MakeWorld(4, 4, 8);
            World output;
            std::vector<std::string> problems;
            ASSERT_EQ(RenderFrame(instance_.get(), FrameLayers{&input, nullptr}, FrameOptions{},
                                  &output, &problems),
                      PF_Err_NONE);
            break;
        }
    }
    EXPECT_EQ(g_attempts.write == A_Err_NONE, c.write_ok);
    EXPECT_EQ(g_attempts.flag == A_Err_NONE, c.flag_ok);
    EXPECT_EQ(g_attempts.undo == A_Err_NONE, c.undo_ok);
    if (!c.write_ok) {
        EXPECT_NE(g_attempts.refusal.find(c.refusal), std::string::npos) << g_attempts.refusal;
    }
}

INSTANTIATE_TEST_SUITE_P(
    StreamWritesVisibilityAndUndo, CallTiming,
    ::testing::Values(TimingCase{"UserChange", PF_Cmd_USER_CHANGED_PARAM, false, true, true, true,
                                 ""},
                      TimingCase{"InterfaceUpdate", PF_Cmd_UPDATE_PARAMS_UI, false, false, true,
                                 false, "during an interface update"},
                      TimingCase{"ParameterSetup", PF_Cmd_PARAMS_SETUP, false, false, false, false,
                                 "during parameter setup"},
                      TimingCase{"PreRender", PF_Cmd_SMART_PRE_RENDER, false, false, false, false,
                                 "from a render thread"},
                      TimingCase{"Render", PF_Cmd_SMART_RENDER, false, false, false, false,
                                 "from a render thread"},
                      TimingCase{"AnotherThreadDuringAUserChange", PF_Cmd_USER_CHANGED_PARAM, true,
                                 false, false, false, "outside any command"}),
    [](const ::testing::TestParamInfo<TimingCase>& info) { return info.param.name; });

// ---- The property list, held against global setup whatever the command.

PF_OutFlags2 g_declared_flags2 = 0;

PF_Err DeclaringEffect(PF_Cmd cmd, PF_InData*, PF_OutData* out_data, PF_ParamDef**, PF_LayerDef*,
                       void*) {
    if (cmd == PF_Cmd_GLOBAL_SETUP) {
        out_data->my_version = vexo::kVersion;
        out_data->out_flags = vexo::kOutFlags;
        out_data->out_flags2 = g_declared_flags2;
    }
    return PF_Err_NONE;
}

TEST_F(HostTest, AModuleWhoseGlobalSetupBreaksItsPropertyListIsNotStarted) {
    Session session;
    std::vector<uint8_t> bytes;
    std::string error;
    ASSERT_TRUE(ReadModulePiPL(VEXO_MODULE_PATH, &bytes, &error)) << error;
    ASSERT_TRUE(ParsePiPL(bytes, &session.module.pipl, &error)) << error;
    session.module.path = "faulty";
    session.module.entry = DeclaringEffect;

    g_declared_flags2 = vexo::kOutFlags2 & ~PF_OutFlag2_SUPPORTS_THREADED_RENDERING;
    EXPECT_FALSE(StartSession(&session, &error));
    EXPECT_NE(error.find("out flags 2 0x08001408 in the property list, 0x00001408 at global setup"),
              std::string::npos)
        << error;

    session.module.entry = DeclaringEffect;
    g_declared_flags2 = vexo::kOutFlags2;
    ASSERT_TRUE(StartSession(&session, &error)) << error;
    EXPECT_TRUE(session.effect.set_up);
    EXPECT_EQ(SendGlobalSetdown(&session.effect), PF_Err_NONE);
}

}  // namespace
