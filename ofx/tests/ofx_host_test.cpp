// The strict host against its probe: a well-behaved render comes back exactly, at each depth and
// row order and split across threads; each broken rule fails the run with its message.
#include <gtest/gtest.h>

#include "host.h"
#include "probe_modes.h"

namespace vexo::ofxhost {
namespace {

// Multiples of 1/255: exact at every depth, so a copy must come back bit for bit.
Picture Source() {
    Picture picture{37, 23, 0, 0, {}};
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                picture.rgba.push_back(float((x * 7 + y * 13 + c * 61) % 256) / 255.0f);
            }
        }
    }
    return picture;
}

const OfxRectI kWindow = {3, 2, 33, 21};

struct ProbeRun {
    SessionPtr session;
    OfxStatus created = kOfxStatFailed;
    OfxStatus rendered = kOfxStatFailed;
    Frame frame;
};

// Opens the probe, sets its mode, creates the instance and renders kWindow at time 0; `edit`
// runs between creation and the render.
template <typename Edit>
ProbeRun Drive(const Options& options, int mode, Edit&& edit) {
    ProbeRun run;
    std::string error;
    run.session = OpenBundle(VEXO_PROBE_BUNDLE, options, &error);
    EXPECT_TRUE(run.session) << error;
    if (!run.session) return run;
    SetInput(*run.session, kOfxImageEffectSimpleSourceClipName, Source());
    SetParam(*run.session, "mode", 0, {{double(mode)}, ""});
    run.created = CreateInstance(*run.session);
    if (run.created == kOfxStatOK) edit(*run.session);
    if (run.created == kOfxStatOK) run.rendered = RenderFrame(*run.session, 0, kWindow, &run.frame);
    Close(*run.session);
    return run;
}

ProbeRun Drive(const Options& options, int mode) {
    return Drive(options, mode, [](Session&) {});
}

// Source cropped to kWindow, at float precision.
int WrongSamples(const Frame& frame) {
    Picture source = Source();
    const Picture& out = frame.picture;
    if (out.width != kWindow.x2 - kWindow.x1 || out.height != kWindow.y2 - kWindow.y1) return -1;
    int wrong = 0;
    for (int y = 0; y < out.height; ++y) {
        for (int x = 0; x < out.width * 4; ++x) {
            size_t at = size_t(y + kWindow.y1) * source.width * 4 + kWindow.x1 * 4 + x;
            wrong += out.rgba[size_t(y) * out.width * 4 + x] != source.rgba[at];
        }
    }
    return wrong;
}

struct GoodRow {
    const char* name;
    Depth depth;
    bool negative_row_bytes;
    int threads;
    const char* context = kOfxImageEffectContextFilter;
    double render_scale = 1;
};

void PrintTo(const GoodRow& row, std::ostream* out) { *out << row.name; }

class OfxHostGood : public testing::TestWithParam<GoodRow> {};

TEST_P(OfxHostGood, CopyComesBackExactly) {
    const GoodRow& row = GetParam();
    Options options;
    options.depth = row.depth;
    options.negative_row_bytes = row.negative_row_bytes;
    options.threads = row.threads;
    options.context = row.context;
    options.render_scale = {row.render_scale, row.render_scale};
    ProbeRun run = Drive(options, kProbeGood);
    ASSERT_TRUE(run.session);
    EXPECT_EQ(Violations(*run.session), std::vector<std::string>{});
    EXPECT_EQ(run.rendered, kOfxStatOK);
    EXPECT_EQ(run.frame.render_calls, row.threads);
    EXPECT_EQ(WrongSamples(run.frame), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OfxHostGood,
    testing::Values(GoodRow{"Byte", Depth::Byte, false, 1},
                    GoodRow{"Float", Depth::Float, false, 1},
                    GoodRow{"ByteTopDown", Depth::Byte, true, 1},
                    GoodRow{"ShortTopDownThreads", Depth::Short, true, 3},
                    GoodRow{"FloatThreads", Depth::Float, false, 4},
                    GoodRow{"GeneralNoMap", Depth::Float, false, 1, kOfxImageEffectContextGeneral},
                    // Regions asked in canonical coordinates come back as the same pixels.
                    GoodRow{"HalfScaleThreads", Depth::Float, true, 3, kOfxImageEffectContextFilter,
                            0.5}),
    [](const testing::TestParamInfo<GoodRow>& info) { return info.param.name; });

// The reset button's instance-changed action fetches an image and sets a value, both allowed
// there, and the render after it is clean.
TEST(OfxHost, ButtonActsThroughInstanceChanged) {
    OfxStatus pressed = kOfxStatFailed;
    ParamValue mode;
    ProbeRun run = Drive(Options{}, kProbeLeakImage, [&](Session& session) {
        pressed = PressButton(session, "reset", 0);
        mode = GetParam(session, "mode");
    });
    ASSERT_TRUE(run.session);
    EXPECT_EQ(pressed, kOfxStatOK);
    EXPECT_EQ(mode.numbers, std::vector<double>{kProbeGood});
    EXPECT_EQ(Violations(*run.session), std::vector<std::string>{});
    EXPECT_EQ(run.rendered, kOfxStatOK);
    EXPECT_EQ(WrongSamples(run.frame), 0);
}

// Values at several times are keys: a double's value is linear between them and held beyond
// them, at the time of the action that reads it.
TEST(OfxHost, KeysInterpolateAtTheFramesTime) {
    std::vector<std::vector<double>> gains;
    std::vector<OfxStatus> rendered;
    ProbeRun run = Drive(Options{}, kProbeGood, [&](Session& session) {
        SetParam(session, "gain", 2, {{1}, ""});
        SetParam(session, "gain", 10, {{3}, ""});
        for (OfxTime time : {0.0, 2.0, 6.0, 10.0, 12.0}) {
            Frame frame;
            rendered.push_back(RenderFrame(session, time, kWindow, &frame));
            gains.push_back(GetParam(session, "gain").numbers);
        }
    });
    ASSERT_TRUE(run.session);
    EXPECT_EQ(rendered, std::vector<OfxStatus>(5, kOfxStatOK));
    EXPECT_EQ(gains, (std::vector<std::vector<double>>{{1}, {1}, {2}, {3}, {3}}));
    EXPECT_EQ(Violations(*run.session), std::vector<std::string>{});
}

TEST(OfxHost, IdentityPassesTheNamedClip) {
    Options options;
    options.depth = Depth::Byte;
    ProbeRun run = Drive(options, kProbeIdentity);
    ASSERT_TRUE(run.session);
    EXPECT_EQ(Violations(*run.session), std::vector<std::string>{});
    EXPECT_EQ(run.rendered, kOfxStatOK);
    EXPECT_EQ(run.frame.identity_clip, kOfxImageEffectSimpleSourceClipName);
    EXPECT_EQ(run.frame.render_calls, 0);
    EXPECT_EQ(WrongSamples(run.frame), 0);
}

struct BadRow {
    const char* name;
    int mode;
    const char* message;
};

void PrintTo(const BadRow& row, std::ostream* out) { *out << row.name; }

class OfxHostCatches : public testing::TestWithParam<BadRow> {};

TEST_P(OfxHostCatches, BrokenRuleFailsTheRun) {
    const BadRow& row = GetParam();
    ProbeRun run = Drive(Options{}, row.mode);
    ASSERT_TRUE(run.session);
    std::vector<std::string> violations = Violations(*run.session);
    ASSERT_FALSE(violations.empty());
    EXPECT_NE(violations.front().find(row.message), std::string::npos) << violations.front();
    // The step in which the rule was broken reports it.
    EXPECT_TRUE(run.created != kOfxStatOK || run.rendered != kOfxStatOK);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OfxHostCatches,
    testing::Values(
        BadRow{"FetchBeyondRoi", kProbeFetchBeyondRoi,
               "clipGetImage(\"Source\") for (-1, 2)-(37, 21), outside the region of interest "
               "(3, 2)-(33, 21)"},
        BadRow{"LeakImage", kProbeLeakImage,
               "image of clip Source, fetched in OfxImageEffectActionRender, was not released"},
        BadRow{"ReleaseTwice", kProbeReleaseTwice, "image of clip Source released twice"},
        BadRow{"WrongPropertyType", kProbeWrongPropertyType,
               "propGetDouble(\"OfxImagePropRowBytes\", 0) on image of clip Source: the property "
               "is int"},
        BadRow{"IndexBeyondDimension", kProbeIndexBeyondDimension,
               "propGetInt(\"OfxImagePropBounds\", 4) on image of clip Source: beyond the "
               "property's dimension 4"},
        BadRow{"ImageOutsideRender", kProbeImageOutsideRender,
               "clipGetImage(\"Source\") outside the render and instance-changed actions (in "
               "OfxImageEffectActionGetRegionOfDefinition)"},
        BadRow{"SetParamInRender", kProbeSetParamInRender,
               "paramSetValue(\"mode\") outside the create-instance and instance-changed actions "
               "(in OfxImageEffectActionRender)"},
        BadRow{"DefineParamLate", kProbeDefineParamLate,
               "paramDefine(\"late\") outside the describe-in-context action (in "
               "OfxActionCreateInstance)"},
        BadRow{"DefineClipLate", kProbeDefineClipLate,
               "clipDefine(\"Late\") outside the describe-in-context action (in "
               "OfxActionCreateInstance)"},
        BadRow{"WriteOutsideImage", kProbeWriteOutsideImage,
               "render wrote outside the output image"},
        BadRow{"WriteOutsideWindow", kProbeWriteOutsideWindow,
               "render wrote pixel (2, 2) outside the render window (3, 2)-(33, 21)"},
        BadRow{"IntOnDoubleParam", kProbeIntOnDoubleParam,
               "propSetInt(\"OfxParamPropMax\", 0) on parameter gain: the parameter's values are "
               "double"},
        BadRow{"WriteSource", kProbeWriteSource, "image of clip Source, an input, was written to"}),
    [](const testing::TestParamInfo<BadRow>& info) { return info.param.name; });

}  // namespace
}  // namespace vexo::ofxhost
