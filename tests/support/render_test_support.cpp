#include "tests/support/render_test_support.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "gl/fbo.h"

using namespace vexo_host;

void RenderTest::SetUp() {
    HostTest::SetUp();
    FBOHelper::PoisonNewTargetsForTesting(true);
    ASSERT_EQ(SendGlobalSetup(&effect_), PF_Err_NONE);
    instance_ = std::make_unique<Instance>(&effect_);
    ASSERT_EQ(SetupInstance(instance_.get()), PF_Err_NONE);
}

void RenderTest::TearDown() {
    if (instance_) {
        EXPECT_EQ(OutstandingCheckouts(*instance_), 0u);
        instance_.reset();
    }
    EXPECT_EQ(SendGlobalSetdown(&effect_), PF_Err_NONE);
    FBOHelper::PoisonNewTargetsForTesting(false);
    HostTest::TearDown();
}

void RenderTest::ResetControls() {
    EXPECT_EQ(OutstandingCheckouts(*instance_), 0u);
    instance_ = std::make_unique<Instance>(&effect_);
    ASSERT_EQ(SetupInstance(instance_.get()), PF_Err_NONE);
}

void RenderTest::Set(PF_ParamIndex index, double value) {
    ASSERT_EQ(UserSetValue(instance_.get(), index, value), PF_Err_NONE) << "parameter " << index;
}

PF_Err RenderTest::Render(const World& input, const World* map, World* output,
                          FrameOptions options) {
    options.depth = input.depth;
    if (!output->storage.empty()) options.given_output = output;
    std::vector<std::string> problems;
    const PF_Err err =
        RenderFrame(instance_.get(), FrameLayers{&input, map}, options, output, &problems);
    EXPECT_TRUE(problems.empty()) << problems.front();
    return err;
}

World RenderTest::Render(const World& input, const World* map, FrameOptions options) {
    World output;
    EXPECT_EQ(Render(input, map, &output, options), PF_Err_NONE);
    return output;
}

World Fill(A_long width, A_long height, int depth,
           const std::function<void(A_long, A_long, float[4])>& pixel) {
    World w = MakeWorld(width, height, depth);
    for (A_long y = 0; y < height; ++y) {
        for (A_long x = 0; x < width; ++x) {
            float argb[4] = {0, 0, 0, 0};
            pixel(x, y, argb);
            for (int c = 0; c < 4; ++c) SetChannel(&w, x, y, c, argb[c]);
        }
    }
    return w;
}

double ShareDiffering(const World& a, const World& b) {
    if (a.def.width != b.def.width || a.def.height != b.def.height) return 1.0;
    int64_t differing = 0;
    for (A_long y = 0; y < a.def.height; ++y) {
        for (A_long x = 0; x < a.def.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                if (GetChannel(a, x, y, c) != GetChannel(b, x, y, c)) {
                    ++differing;
                    break;
                }
            }
        }
    }
    return double(differing) / std::max<double>(1.0, double(a.def.width) * a.def.height);
}

float MaxDifference(const World& a, const World& b) {
    if (a.def.width != b.def.width || a.def.height != b.def.height) {
        return std::numeric_limits<float>::infinity();
    }
    float worst = 0;
    for (A_long y = 0; y < a.def.height; ++y) {
        for (A_long x = 0; x < a.def.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                const float d = std::fabs(GetChannel(a, x, y, c) - GetChannel(b, x, y, c));
                if (std::isnan(d)) return std::numeric_limits<float>::infinity();
                worst = std::max(worst, d);
            }
        }
    }
    return worst;
}
