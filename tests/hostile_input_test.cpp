// Commands, values and layers that no well-behaved host sends, each first met by the fuzzer:
// the effect refuses them or renders through them, and never reads past what it was given,
// overflows, or stalls.
#include <climits>
#include <cmath>
#include <limits>

#include "params/param_table.h"
#include "render/render_settings.h"
#include "tests/support/render_test_support.h"

namespace {

using namespace vexo_host;

// The host hands over as many definitions as it holds; before parameter setup that is the input
// layer alone.
TEST_F(HostTest, AnInterfaceUpdateBeforeParameterSetupIsRefused) {
    Instance bare(&effect_);
    ASSERT_EQ(bare.params.size(), 1u);
    EXPECT_EQ(SendUpdateParamsUI(&bare), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(InstanceProblems(bare).empty());
}

// Layer origins are composition coordinates and may be far apart; their difference does not fit
// the 32-bit fields it is computed from.
TEST(MapPlacement, OriginsAtOppositeEndsOfTheRangeKeepTheirDistance) {
    PF_LayerDef input{}, map{};
    input.width = map.width = 100;
    input.height = map.height = 50;
    input.origin_x = INT_MAX;
    map.origin_x = INT_MIN;
    input.origin_y = INT_MIN;
    map.origin_y = INT_MAX;
    myParams p{};
    GenVertexMatrices(&p, &map, &input);
    // Row 0 and 1, column 3: where the quad's left and bottom edges land, in clip units.
    const double dx = 2.0 * (double(INT_MIN) - double(INT_MAX)) / 100.0;
    const double dy = 2.0 * (double(INT_MAX) - double(INT_MIN)) / 50.0;
    EXPECT_FLOAT_EQ(p.mapXform[3], float(dx));
    EXPECT_FLOAT_EQ(p.mapXform[7], float(dy));
}

World Gradient(A_long w, A_long h) {
    return Fill(w, h, 32, [&](A_long x, A_long y, float* argb) {
        argb[0] = 1.0f;
        argb[1] = float(x) / float(w);
        argb[2] = float(y) / float(h);
        argb[3] = 0.5f;
    });
}

class HostileRenderTest : public RenderTest {
  protected:
    // A stream value as a project or expression could leave it, past the host's checks.
    void Raw(PF_ParamIndex index, double value) {
        std::lock_guard<std::mutex> lock(instance_->mutex);
        instance_->params[std::size_t(index)].value = value;
    }
};

TEST_F(HostileRenderTest, AMapAFullRangeAwayPlacesNothing) {
    World input = Gradient(24, 12);
    World map = Fill(24, 12, 32, [](A_long, A_long, float* argb) {
        argb[0] = 1.0f;
        argb[1] = 1.0f;  // full displacement wherever the map lands
    });
    Set(kParamChannel, kChannelRed);
    Set(kParamTranslateX, 25);
    input.def.origin_x = INT_MAX;
    map.def.origin_x = INT_MIN;
    const World far = Render(input, &map);

    // Nowhere on the frame is the same as a map that covers it with transparent black.
    World clear = MakeWorld(24, 12, 32);
    clear.def.origin_x = INT_MAX;
    const World none = Render(input, &clear);
    EXPECT_EQ(MaxDifference(far, none), 0.0f);
}

// The blur takes one tap per pixel of radius; a radius past what the control allows would keep
// the driver busy for hours on one frame.
TEST_F(HostileRenderTest, SoftnessBeyondItsRangeIsHeldToTheLargestTheControlAllows) {
    const World input = Gradient(32, 16);
    Set(kParamMapSoftness, 100);  // the control's maximum
    const World largest = Render(input);
    for (const double raw : {1e9, double(std::numeric_limits<float>::max()),
                             std::numeric_limits<double>::infinity()}) {
        Raw(kParamMapSoftness, raw);
        EXPECT_EQ(MaxDifference(Render(input), largest), 0.0f) << raw;
    }
    Raw(kParamMapSoftness, 100);
    FrameOptions upsampled;  // a factor above one would scale the radius up just the same
    upsampled.downsample = {1000, 1};
    EXPECT_EQ(MaxDifference(Render(input, nullptr, upsampled), largest), 0.0f);
}

TEST_F(HostileRenderTest, SoftnessThatIsNoNumberDoesNotBlur) {
    const World input = Gradient(32, 16);
    const World sharp = Render(input);
    for (const double raw : {std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::infinity(), -5.0}) {
        Raw(kParamMapSoftness, raw);
        EXPECT_EQ(MaxDifference(Render(input), sharp), 0.0f) << raw;
    }
}

// Where the input is read is bounded from the controls; values no control allows must still give
// a request the host takes, and a frame.
TEST_F(HostileRenderTest, ControlsBeyondEveryRangeStillAskForWhatTheLayerHas) {
    const World input = Fill(32, 16, 8, [](A_long x, A_long, float* argb) {
        argb[0] = 1.0f;
        argb[1] = float(x) / 32;
    });
    FrameOptions options;
    options.region = PF_LRect{4, 2, 12, 9};
    for (const PF_ParamIndex index : {kParamTranslateX, kParamRotate, kParamScaleX, kParamAnchorY}) {
        for (const double raw : {1e300, -1e300, 1e15, std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN()}) {
            SCOPED_TRACE(std::to_string(index) + " at " + std::to_string(raw));
            ResetControls();
            Raw(index, raw);
            World out;
            EXPECT_EQ(Render(input, nullptr, &out, options), PF_Err_NONE);
            EXPECT_EQ(out.def.width, 8);
        }
    }
}

}  // namespace
