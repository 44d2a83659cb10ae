// The Win64 OpenFX bundle driven by the strict test host, as a Windows host drives it: loaded,
// described in both contexts by the rules, and frames rendered through WGL on the module's own
// threads while the host splits the window across threads of its own.
#include <gtest/gtest.h>

#include <string>

#include "host.h"

namespace vexo::ofxhost {
namespace {

Picture Source() {
    Picture picture{48, 32, 0, 0, {}};
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                picture.rgba.push_back(c == 3 ? 1.0f
                                              : float((x * 5 + y * 11 + c * 67) % 256) / 255.0f);
            }
        }
    }
    return picture;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

class OfxBundle : public testing::TestWithParam<Depth> {};

TEST_P(OfxBundle, RendersAFrameByTheRules) {
    Options options;
    options.depth = GetParam();
    options.threads = 2;
    std::string error;
    SessionPtr session = OpenBundle(VEXO_OFX_BUNDLE, options, &error);
    ASSERT_TRUE(session) << error;
    const Picture source = Source();
    SetInput(*session, kOfxImageEffectSimpleSourceClipName, source);
    // The source is its own map in the Filter context: a translated map moves the picture.
    ofxhost::SetParam(*session, "translateX", 0, {{25.0}, ""});
    ASSERT_EQ(CreateInstance(*session), kOfxStatOK) << Joined(Violations(*session));
    Frame frame;
    const OfxRectI window = {0, 0, source.width, source.height};
    EXPECT_EQ(RenderFrame(*session, 0, window, &frame), kOfxStatOK);
    Close(*session);
    EXPECT_EQ(Joined(Violations(*session)), "");
    EXPECT_EQ(Joined(Messages(*session)), "");
    EXPECT_EQ(frame.identity_clip, "");
    ASSERT_EQ(frame.picture.rgba.size(), source.rgba.size());
    size_t moved = 0;
    for (size_t i = 0; i < source.rgba.size(); ++i)
        moved += frame.picture.rgba[i] != source.rgba[i];
    EXPECT_GT(moved, source.rgba.size() / 4) << "the frame is mostly its input";
}

INSTANTIATE_TEST_SUITE_P(Depths, OfxBundle, testing::Values(Depth::Byte, Depth::Float),
                         [](const testing::TestParamInfo<Depth>& info) {
                             return info.param == Depth::Byte ? "Byte" : "Float";
                         });

}  // namespace
}  // namespace vexo::ofxhost
