// What the effect's six programs compute, drawn into float targets with RenderQuad and read
// back. Expected values come from the shaders' formulas evaluated here on the CPU.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "context/displace_variants.h"
#include "context/render_data.h"
#include "render/passes.h"
#include "gl/pod.h"
#include "tests/support/displace_model.h"
#include "tests/support/gl_test_support.h"
#include "tests/support/gl_toolkit_support.h"

using vexo_test::CaptureStdout;
using namespace vexo_model;

namespace {

class ShaderBehaviourTest : public vexo_test::GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        baseline_ = vexo_test::CountLiveGLObjects().total();
        const std::string out = CaptureStdout([&] { CreateGLPrograms(&programs_); });
        ASSERT_EQ(out, "") << "the programs do not build cleanly";
        for (GLuint p :
             {programs_.swizzleInProgram, programs_.displaceProgram, programs_.blurWProgram,
              programs_.blurHProgram, programs_.bicubicProgram, programs_.oversampleProgram})
            ASSERT_NE(p, 0u);
    }
    void TearDown() override {
        if (context()) {
            for (PX_FBO& t : targets_) FBOHelper::DeleteGenericFBO(&t);
            DeleteGLPrograms(&programs_);
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
            EXPECT_EQ(vexo_test::CountLiveGLObjects().total(), baseline_)
                << Describe(vexo_test::CountLiveGLObjects());
        }
        GLTest::TearDown();
    }

    // A target holding `image`, deleted at tear-down: a rectangle texture, as the passes read,
    // or a 2D one.
    GLuint Texture(const Image& image, uint32_t kind = GL_TEXTURE_RECTANGLE) {
        targets_.push_back(
            vexo_test::MakeFloatTarget(image.w, image.h, image.rgba, image.wrap, kind));
        return targets_.back().renderBuffer.id;
    }

    // Draws `program` over a fresh w x h target and returns its pixels; reports of unset
    // uniforms fail the test.
    Image Draw(GLuint program, UniformMap uniforms, int w, int h) {
        vexo_model::AddWholeGridUniforms(&uniforms, float(w), float(h));
        uniforms.emplace("texelOrigin", IVEC2({0, 0}));
        PX_FBO target = FBOHelper::CreateTextureFBO(w, h, GL_CLAMP_TO_EDGE, GL_RGBA32F, 0);
        const std::string out =
            CaptureStdout([&] { RenderQuad(&target, program, uniforms, 0, A_FloatRect{}, false); });
        EXPECT_EQ(out, "");
        Image result(w, h);
        result.rgba = vexo_test::ReadTarget(target);
        FBOHelper::DeleteGenericFBO(&target);
        return result;
    }

    GLPrograms programs_{};
    std::vector<PX_FBO> targets_;
    int baseline_ = 0;
};

Matrix44f Identity() {
    Matrix44f m{};
    m.m[0] = m.m[5] = m.m[10] = m.m[15] = 1.0f;
    return m;
}

TEST_F(ShaderBehaviourTest, SwizzleInReordersHostChannelsAndPremultipliesOnRequest) {
    // Texels hold the host's (alpha, red, green, blue).
    Image in(3, 2);
    const float texels[6][4] = {{0.5f, 1, 0, 0}, {1, 0.2f, 0.4f, 0.6f},
                                {0, 1, 1, 1},    {0.25f, 2, -1, 0.5f},
                                {1, 1, 1, 1},    {0.75f, 0.1f, 0.9f, 0.3f}};
    for (int k = 0; k < 6; ++k)
        for (int c = 0; c < 4; ++c) in.at(k % 3, k / 3)[c] = texels[k][c];
    const GLuint tex = Texture(in);
    for (int premult : {0, 1}) {
        SCOPED_TRACE(premult);
        const Image out = Draw(programs_.swizzleInProgram,
                               {{"videoTexture", TEXRECT(tex)},
                                {"xform", MAT44(Identity())},
                                {"premultB", IVEC(premult)}},
                               3, 2);
        for (int k = 0; k < 6; ++k) {
            const float* s = texels[k];
            const float a = s[0];
            const float expected[4] = {premult ? s[1] * a : s[1], premult ? s[2] * a : s[2],
                                       premult ? s[3] * a : s[3], a};
            for (int c = 0; c < 4; ++c)
                EXPECT_NEAR(out.rgba[k * 4 + c], expected[c],
                            1e-6f * std::max(1.0f, std::fabs(expected[c])))
                    << "texel " << k << " " << c;
        }
    }
    // The first texel is the documented case: (1, 0, 0, 0.5), premultiplied (0.5, 0, 0, 0.5).
}

TEST_F(ShaderBehaviourTest, SwizzleInPlacesTheQuadThroughXformAsARowVector) {
    Image in(8, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 8; ++x) {
            in.at(x, y)[0] = 1.0f;  // host alpha
            in.at(x, y)[1] = static_cast<float>(x + 1);
        }
    const GLuint tex = Texture(in);
    Matrix44f shift = Identity();
    shift.m[3] = 0.5f;  // x += 0.5 w for a row vector on the left: a quarter of the width
    const Image out = Draw(programs_.swizzleInProgram,
                           {{"videoTexture", TEXRECT(tex)},
                            {"xform", MAT44(shift)},
                            {"premultB", IVEC(0)},
                            {"texelOrigin", IVEC2({-2, 0})}},
                           8, 2);
    for (int x = 0; x < 8; ++x) {
        const float* p = &out.rgba[x * 4];
        if (x < 2) {
            EXPECT_EQ(p[3], 0.0f) << x;  // uncovered: still cleared
        } else {
            EXPECT_FLOAT_EQ(p[0], static_cast<float>(x - 1)) << x;
            EXPECT_FLOAT_EQ(p[3], 1.0f) << x;
        }
    }
}

double BlurWeight(double x) { return std::exp(-0.5 * x * x / 0.06); }

// What a one-dimensional blur of radius r gives at offset k pixels from a unit impulse: the
// impulse seen through linear filtering is a tent of half-width one pixel.
double BlurOfImpulse(double r, int k) {
    const int steps = static_cast<int>(std::ceil(r));
    const double stride = r / steps;
    double sum = 0, total = 0;
    for (int i = -steps; i <= steps; ++i) {
        const double w = BlurWeight(static_cast<double>(i) / steps);
        sum += w * std::max(0.0, 1.0 - std::fabs(k + i * stride));
        total += w;
    }
    return sum / total;
}

TEST_F(ShaderBehaviourTest, BlurWeightsFollowTheGaussianOfTheRadius) {
    // Radius 4: one pixel between taps, weights 1, 0.594, 0.125, 0.0092, 0.00024.
    EXPECT_NEAR(BlurWeight(0.25), 0.594, 0.001);
    EXPECT_NEAR(BlurWeight(0.5), 0.125, 0.001);
    EXPECT_NEAR(BlurWeight(0.75), 0.0092, 0.0001);
    EXPECT_NEAR(BlurWeight(1.0), 0.00024, 0.00001);
    // Radius 0.5 taps at -0.5, 0, +0.5 pixels: nearly the image itself.
    EXPECT_NEAR(BlurOfImpulse(0.5, 0), 1.0, 0.0003);

    struct Case {
        bool horizontal;
        float radius;
    } cases[] = {{true, 4.0f}, {false, 4.0f}, {true, 0.5f},  {false, 2.5f},
                 {true, 2.5f}, {false, 1.3f}, {true, 10.0f}, {false, 7.7f}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.horizontal ? "W " : "H ") + std::to_string(c.radius));
        const int w = c.horizontal ? 32 : 3, h = c.horizontal ? 3 : 32;
        Image in(w, h);
        const int cx = c.horizontal ? 16 : 1, cy = c.horizontal ? 1 : 16;
        in.at(cx, cy)[0] = 1.0f;
        in.at(cx, cy)[1] = -2.0f;
        const GLuint tex = Texture(in);
        const GLuint program = c.horizontal ? programs_.blurWProgram : programs_.blurHProgram;
        UniformMap uniforms{{"videoTexture", TEXRECT(tex)},
                            {"resV", VEC2({static_cast<float>(w), static_cast<float>(h)})}};
        SetBlurKernel({program}, c.radius, &uniforms);
        const Image out = Draw(program, uniforms, w, h);
        for (int k = -6; k <= 6; ++k) {
            const int x = c.horizontal ? cx + k : cx, y = c.horizontal ? cy : cy + k;
            const double expected = BlurOfImpulse(c.radius, k);
            // Each pair is placed to 1/512 of a texel: its texels' shares are off by 1/1024 of its
            // weight at most.
            EXPECT_NEAR(out.rgba[(y * w + x) * 4 + 0], expected, 1e-3 + 1e-3 * expected) << k;
            EXPECT_NEAR(out.rgba[(y * w + x) * 4 + 1], -2 * expected, 2e-3 + 2e-3 * expected) << k;
        }
        // Nothing leaks across the other axis.
        const int ox = c.horizontal ? cx : cx + 1, oy = c.horizontal ? cy + 1 : cy;
        EXPECT_EQ(out.rgba[(oy * w + ox) * 4], 0.0f);
    }
}

TEST_F(ShaderBehaviourTest, BicubicKeepsConstantsAndSmoothsDetail) {
    Image flat(8, 8);
    for (int k = 0; k < 64; ++k) {
        flat.rgba[k * 4 + 0] = 0.3f;
        flat.rgba[k * 4 + 1] = -2.0f;
        flat.rgba[k * 4 + 2] = 5.0f;
        flat.rgba[k * 4 + 3] = 1.0f;
    }
    const GLuint flatTex = Texture(flat, GL_TEXTURE_2D);
    const Image up = Draw(programs_.bicubicProgram, {{"inTex", TEX2D(flatTex)}}, 16, 16);
    for (int k = 0; k < 256; ++k) {
        EXPECT_NEAR(up.rgba[k * 4 + 0], 0.3f, 1e-5) << k;
        EXPECT_NEAR(up.rgba[k * 4 + 1], -2.0f, 1e-5) << k;
        EXPECT_NEAR(up.rgba[k * 4 + 2], 5.0f, 1e-5) << k;
        EXPECT_NEAR(up.rgba[k * 4 + 3], 1.0f, 1e-5) << k;
    }

    // A B-spline does not interpolate: at its own centre an impulse keeps (4/6)^2, its edge
    // neighbours (4/6)(1/6), its diagonal ones (1/6)^2.
    Image impulse(9, 9);
    impulse.at(4, 4)[0] = 1.0f;
    const GLuint impulseTex = Texture(impulse, GL_TEXTURE_2D);
    const Image same = Draw(programs_.bicubicProgram, {{"inTex", TEX2D(impulseTex)}}, 9, 9);
    auto at = [&](int x, int y) { return same.rgba[(y * 9 + x) * 4]; };
    EXPECT_NEAR(at(4, 4), 16.0 / 36, 2e-3);
    EXPECT_NEAR(at(5, 4), 4.0 / 36, 2e-3);
    EXPECT_NEAR(at(4, 3), 4.0 / 36, 2e-3);
    EXPECT_NEAR(at(3, 5), 1.0 / 36, 2e-3);
    EXPECT_NEAR(at(6, 4), 0.0, 1e-5);
}

TEST_F(ShaderBehaviourTest, OversampleAveragesTheFactorSquaredSamples) {
    for (int n : {2, 4}) {
        SCOPED_TRACE(n);
        const int w = 6, h = 3;
        Image super(w * n, h * n);
        for (int y = 0; y < super.h; ++y)
            for (int x = 0; x < super.w; ++x) {
                super.at(x, y)[0] = static_cast<float>((x * 7 + y * 3) % 11);
                super.at(x, y)[1] = (x + y) % 2 ? 1.0f : 0.0f;
                super.at(x, y)[3] = 1.0f;
            }
        // The passes hand it a part of the samples, from the cell its origin names on: here from
        // `margin` cells before the grid.
        const int margin = n + 2;
        Image padded(super.w + 2 * margin, super.h + 2 * margin);
        for (int y = 0; y < padded.h; ++y)
            for (int x = 0; x < padded.w; ++x)
                std::copy_n(super.texel(x - margin, y - margin), 4, padded.at(x, y));
        const GLuint tex = Texture(padded, GL_TEXTURE_2D);
        const Image out = Draw(programs_.oversampleProgram,
                               {{"inTex", TEX2D(tex)},
                                {"octave", VEC(static_cast<float>(n))},
                                {"sampleOrigin", IVEC2({-margin, -margin})}},
                               w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const RGBA expected = Oversampled(super, n, x, y);
                for (int c = 0; c < 4; ++c)
                    EXPECT_NEAR(out.rgba[(y * w + x) * 4 + c], expected.c[c], 1e-4)
                        << x << "," << y << " channel " << c;
            }
    }
}

// --- displace ---

class DisplaceGreyTest : public ShaderBehaviourTest {
  protected:
    // The map view of a one-row map whose red channel holds `values`: the shown grey per pixel.
    std::vector<float> ShownGrey(DisplaceSettings s, const std::vector<std::array<float, 4>>& map) {
        // Each value fills three texels and is read in the middle one, so that filtering can
        // only blend it with itself: fragment positions are not exact texel centres.
        const int n = static_cast<int>(map.size());
        Image m(3 * n, 1);
        for (int x = 0; x < 3 * n; ++x)
            for (int c = 0; c < 4; ++c) m.at(x, 0)[c] = map[x / 3][c];
        const GLuint mapTex = Texture(m);
        const GLuint inTex = Texture(Image(3 * n, 1));
        s.dstL = 1;
        s.resV = {static_cast<float>(3 * n), 1.0f};
        const Image out =
            Draw(programs_.displaceProgram, DisplaceUniforms(s, inTex, mapTex), 3 * n, 1);
        std::vector<float> grey;
        for (int x = 0; x < n; ++x) {
            const float* p = &out.rgba[(3 * x + 1) * 4];
            // Host order: alpha first, then the grey in red, green and blue.
            EXPECT_EQ(p[0], 1.0f) << x;
            EXPECT_EQ(p[1], p[2]) << x;
            EXPECT_EQ(p[1], p[3]) << x;
            grey.push_back(p[1]);
        }
        return grey;
    }

    void ExpectGrey(const DisplaceSettings& s, const std::vector<std::array<float, 4>>& map,
                    float tolerance = 1e-6f) {
        const std::vector<float> shown = ShownGrey(s, map);
        for (size_t x = 0; x < map.size(); ++x) {
            float expected = Grey(s, map[x].data());
            if (s.usingCA == 1) expected *= s.greenMult;
            EXPECT_NEAR(shown[x], expected, tolerance + 1e-5f * std::fabs(expected))
                << "map texel " << x;
        }
    }
};

std::vector<std::array<float, 4>> Reds(std::initializer_list<float> values) {
    std::vector<std::array<float, 4>> map;
    for (float v : values) map.push_back({v, 0.0f, 0.0f, 1.0f});
    return map;
}

TEST_F(DisplaceGreyTest, HueSaturationAndLuminanceOfTheMap) {
    const std::vector<std::array<float, 4>> colours = {{1, 0, 0, 1},
                                                       {0, 1, 0, 1},
                                                       {0, 0, 1, 1},
                                                       {0.5f, 0.5f, 0.5f, 1},
                                                       {1, 1, 1, 1},
                                                       {0.2f, 0.7f, 0.4f, 1},
                                                       {0.9f, 0.1f, 0.6f, 0.5f}};
    DisplaceSettings s;
    s.srcL = 6;
    const std::vector<float> hue = ShownGrey(s, colours);
    EXPECT_EQ(hue[0], 0.00001f);  // red: hue 0, replaced
    EXPECT_NEAR(hue[1], 1.0f / 3.0f, 1e-6);
    EXPECT_NEAR(hue[2], 2.0f / 3.0f, 1e-6);
    EXPECT_EQ(hue[3], 0.00001f);  // grey has hue 0 ...
    ExpectGrey(s, colours);
    s.srcL = 7;
    EXPECT_EQ(ShownGrey(s, colours)[3], 0.00001f);  // ... and saturation 0
    ExpectGrey(s, colours);
    s.srcL = 8;
    EXPECT_NEAR(ShownGrey(s, colours)[4], 3.0f * 0.33333333f, 1e-6);
    ExpectGrey(s, colours);
    for (int channel : {1, 2, 3, 4, 5, 0}) {
        s.srcL = channel;
        ExpectGrey(s, colours);
    }
}

TEST_F(DisplaceGreyTest, EasingCurvesMeetTheirEndpoints) {
    const auto map = Reds({0.0f, 0.25f, 0.5f, 0.75f, 1.0f});
    for (int easing : {2, 3, 4, 7}) {
        SCOPED_TRACE(easing);
        DisplaceSettings s;
        s.easingL = easing;
        const std::vector<float> shown = ShownGrey(s, map);
        EXPECT_EQ(shown[0], 0.00001f);  // 0 stays 0, then is replaced
        EXPECT_NEAR(shown[4], 1.0f, 1e-6);
        ExpectGrey(s, map);
    }
    DisplaceSettings in;
    in.easingL = 2;
    EXPECT_NEAR(ShownGrey(in, map)[1], 0.015625f, 1e-6);  // 0.5 * 2^-5
    EXPECT_NEAR(ShownGrey(in, map)[3], 0.984375f, 1e-6);
}

TEST_F(DisplaceGreyTest, InvertOffsetAndGammaShapeTheMapValue) {
    const auto map = Reds({0.0f, 0.1f, 0.5f, 0.9f, 1.0f});
    DisplaceSettings s;
    s.invert = 1;
    EXPECT_EQ(ShownGrey(s, map)[4], 0.00001f);
    ExpectGrey(s, map);
    s = DisplaceSettings{};
    s.offsetF = 0.5f;  // nothing clamps the result
    EXPECT_NEAR(ShownGrey(s, map)[3], 1.4f, 1e-6);
    ExpectGrey(s, map);
    s.offsetF = -0.5f;
    EXPECT_EQ(ShownGrey(s, map)[2], 0.00001f);
    s = DisplaceSettings{};
    s.gammaF = 2.2f;
    EXPECT_NEAR(ShownGrey(s, map)[2], std::pow(0.5f, 2.2f), 1e-6);
    ExpectGrey(s, map);
    // All of them together, in their order: invert, offset, ease, gamma.
    s.invert = 1;
    s.offsetF = 0.05f;
    s.easingL = 4;
    ExpectGrey(s, map, 1e-5f);
}

TEST_F(DisplaceGreyTest, MapViewWithChromaticAberrationShowsTheGreenShare) {
    DisplaceSettings s;
    s.usingCA = 1;
    s.greenMult = 0.5f;
    s.redMult = 3.0f;
    s.blueMult = 0.0f;
    const auto map = Reds({0.6f, 1.0f, 0.0f});
    const std::vector<float> shown = ShownGrey(s, map);
    EXPECT_NEAR(shown[0], 0.3f, 1e-6);
    EXPECT_NEAR(shown[1], 0.5f, 1e-6);
    EXPECT_NEAR(shown[2], 0.000005f, 1e-9);
}

TEST_F(DisplaceGreyTest, NonFiniteValuesLeaveAsZeroAndFiniteOnesBitForBit) {
    DisplaceSettings s;  // red, no invert, offset, easing or gamma: the grey is the map value
    const auto finite = Reds({3.0e38f, -2.5f, 1.0e-30f, 7.0f, 0.1f});
    const std::vector<float> shown = ShownGrey(s, finite);
    for (size_t i = 0; i < finite.size(); ++i) EXPECT_EQ(shown[i], finite[i][0]) << i;

    s.offsetF = 3.0e38f;  // 3e38 + 3e38 overflows
    EXPECT_EQ(ShownGrey(s, Reds({3.0e38f}))[0], 0.0f);
    s.offsetF = -1.5f;  // a negative base under gamma
    s.gammaF = 2.0f;
    EXPECT_EQ(ShownGrey(s, Reds({0.5f}))[0], 0.0f);
}

TEST_F(DisplaceGreyTest, WithoutAuxTextureTheInputIsItsOwnMap) {
    DisplaceSettings s;
    s.usingAuxTex = 0;
    s.dstL = 1;
    s.srcL = 2;
    Image in(2, 1), other(2, 1);
    in.at(0, 0)[1] = 0.25f;
    in.at(1, 0)[1] = 0.75f;
    other.at(0, 0)[1] = other.at(1, 0)[1] = 0.5f;
    const Image out =
        Draw(programs_.displaceProgram, DisplaceUniforms(s, Texture(in), Texture(other)), 2, 1);
    EXPECT_NEAR(out.rgba[1], 0.25f, 1e-6);
    EXPECT_NEAR(out.rgba[5], 0.75f, 1e-6);
}

// A picture whose red and green grow across it, with host-order output predicted per pixel.
class DisplaceResultTest : public DisplaceGreyTest {
  protected:
    void ExpectDisplaced(const DisplaceSettings& s, int w, int h, float mapValue,
                         GLint wrap = GL_CLAMP_TO_BORDER, float tolerance = 2e-3f) {
        Image in(w, h, wrap);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                in.at(x, y)[0] = 0.1f + 0.8f * x / (w - 1);
                in.at(x, y)[1] = 0.1f + 0.8f * y / (h - 1);
                in.at(x, y)[2] = 0.5f + 0.4f * ((x + 2 * y) % 3) / 2.0f;
                in.at(x, y)[3] = 1.0f;
            }
        Image map(w, h);
        for (int k = 0; k < w * h; ++k) map.rgba[k * 4] = mapValue;
        UniformMap uniforms = DisplaceUniforms(s, Texture(in), Texture(map));
        uniforms["wrapL"] = IVEC(WrapIndex(wrap));
        const Image out = Draw(programs_.displaceProgram, uniforms, w, h);
        const float m[4] = {mapValue, 0, 0, 1};
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const RGBA expected = Displace(s, in, m, (x + 0.5) / w, (y + 0.5) / h);
                for (int c = 0; c < 4; ++c)
                    EXPECT_NEAR(out.rgba[(y * w + x) * 4 + c], expected.c[c], tolerance)
                        << x << "," << y << " channel " << c;
            }
    }
};

TEST_F(DisplaceResultTest, TranslationMovesThePicture) {
    DisplaceSettings s;
    s.translateX = 0.25f;
    s.translateY = -0.125f;
    s.resV = {16, 8};
    ExpectDisplaced(s, 16, 8, 1.0f);
    ExpectDisplaced(s, 16, 8, 0.5f, GL_REPEAT);
    ExpectDisplaced(s, 16, 8, 0.5f, GL_MIRRORED_REPEAT);
}

TEST_F(DisplaceResultTest, RotationIsAspectCorrect) {
    DisplaceSettings s;
    s.rot = 90.0f;
    s.resV = {20, 10};
    s.anchorX = 0.5f;
    s.anchorY = 0.5f;
    ExpectDisplaced(s, 20, 10, 1.0f);
    s.rot = 30.0f;
    s.anchorX = 0.3f;
    ExpectDisplaced(s, 20, 10, 0.75f, GL_CLAMP_TO_EDGE);
}

TEST_F(DisplaceResultTest, RotationByAQuarterTurnMapsSquaresToSquares) {
    // At a 2:1 frame a quarter turn about the centre sends a fragment 1/4 of the width right of
    // the centre to a point 1/2 of the height above or below it: the same distance in pixels.
    DisplaceSettings s;
    s.rot = 90.0f;
    s.resV = {200, 100};
    double at[2];
    ModifyCoords(s, 0.75, 0.5, 1.0, at);
    EXPECT_NEAR(at[0], 0.5, 1e-5);
    EXPECT_NEAR(std::fabs(at[1] - 0.5), 0.5, 1e-5);
}

TEST_F(DisplaceResultTest, ScaleAppliesItsShareOfTheMapValue) {
    DisplaceSettings s;
    s.scaleX = 0.5f;
    s.scaleY = 2.0f;
    s.resV = {16, 16};
    ExpectDisplaced(s, 16, 16, 1.0f);
    ExpectDisplaced(s, 16, 16, 0.75f);
}

TEST_F(DisplaceResultTest, ZeroMapValueBarelyMoves) {
    DisplaceSettings s;
    s.translateX = 0.5f;
    s.rot = 45.0f;
    s.resV = {16, 8};
    ExpectDisplaced(s, 16, 8, 0.0f);
}

TEST_F(DisplaceResultTest, ChromaticAberrationDisplacesRedAndBlueOnTheirOwn) {
    DisplaceSettings s;
    s.usingCA = 1;
    s.translateX = 0.25f;
    s.redMult = 1.0f;
    s.greenMult = 0.5f;
    s.blueMult = -1.0f;
    s.resV = {16, 8};
    ExpectDisplaced(s, 16, 8, 1.0f);
    // A multiplier of 0 gives its channel a map value of exactly 0: that channel stays put.
    s.blueMult = 0.0f;
    s.translateY = 0.25f;
    ExpectDisplaced(s, 16, 8, 0.8f);
}

TEST_F(DisplaceResultTest, AllTogether) {
    DisplaceSettings s;
    s.translateX = -0.1f;
    s.translateY = 0.2f;
    s.rot = -60.0f;
    s.scaleX = 0.8f;
    s.scaleY = 1.25f;
    s.anchorX = 0.4f;
    s.anchorY = 0.6f;
    s.gammaF = 0.7f;
    s.resV = {24, 12};
    ExpectDisplaced(s, 24, 12, 0.6f, GL_MIRRORED_REPEAT);
}

// --- displacement programs made for a frame's settings ---

// Every variant must draw the general program's bytes: at float depth the very floats, at 8 bits
// the bytes the output target rounds them to. Rows cover each setting a variant fixes, on a map
// with zeros, ones, negatives and colours, through a frame that is not square.
TEST_F(ShaderBehaviourTest, DisplaceVariantsDrawTheGeneralProgramsBytes) {
    const int w = 37, h = 23;
    struct Row {
        const char* what;
        std::function<void(DisplaceSettings&)> set;
        int mapFetch = 0;  // how the map is read
        int perPixel = 1;  // the cells a pixel's side holds
    };
    const Row rows[] = {
        {"defaults, luminance", [](DisplaceSettings& s) { s.srcL = 8; }},
        {"map layer read itself", [](DisplaceSettings& s) { s.srcL = 8; }, 1},
        {"map four pixels a texel", [](DisplaceSettings& s) { s.rot = 10.0f; }, 3},
        {"2x", [](DisplaceSettings& s) { s.rot = 10.0f; }, 0, 2},
        {"4x, aberration",
         [](DisplaceSettings& s) { s.usingCA = 1, s.redMult = 1.2f, s.blueMult = 0.7f; }, 0, 4},
        {"no displacement",
         [](DisplaceSettings& s) { s.srcL = 8, s.translateX = s.translateY = 0; }},
        {"red", [](DisplaceSettings& s) { s.srcL = 1; }},
        {"green", [](DisplaceSettings& s) { s.srcL = 2; }},
        {"blue", [](DisplaceSettings& s) { s.srcL = 3; }},
        {"alpha", [](DisplaceSettings& s) { s.srcL = 4; }},
        {"no channel", [](DisplaceSettings& s) { s.srcL = 5; }},
        {"hue", [](DisplaceSettings& s) { s.srcL = 6; }},
        {"saturation", [](DisplaceSettings& s) { s.srcL = 7; }},
        {"invert", [](DisplaceSettings& s) { s.invert = 1; }},
        {"ease in", [](DisplaceSettings& s) { s.easingL = 3; }},
        {"ease out", [](DisplaceSettings& s) { s.easingL = 4; }},
        {"ease in and out", [](DisplaceSettings& s) { s.easingL = 2; }},
        {"gamma", [](DisplaceSettings& s) { s.gammaF = 0.45f; }},
        {"negative base under gamma", [](DisplaceSettings& s) { s.offsetF = -0.7f, s.gammaF = 2; }},
        {"rotation", [](DisplaceSettings& s) { s.rot = 33.0f; }},
        {"scale", [](DisplaceSettings& s) { s.scaleX = 0.8f, s.scaleY = 1.3f; }},
        {"scale pole", [](DisplaceSettings& s) { s.scaleX = s.scaleY = 0.5f; }},
        {"aberration",
         [](DisplaceSettings& s) {
             s.usingCA = 1, s.redMult = 1.2f, s.greenMult = 0.5f, s.blueMult = 0;
         }},
        {"map view", [](DisplaceSettings& s) { s.dstL = 1, s.srcL = 6; }},
        {"map view, aberration",
         [](DisplaceSettings& s) { s.dstL = 1, s.usingCA = 1, s.greenMult = 0.5f; }},
        {"input as map", [](DisplaceSettings& s) { s.usingAuxTex = 0, s.srcL = 8; }},
        {"all together",
         [](DisplaceSettings& s) {
             s.srcL = 7, s.invert = 1, s.easingL = 4, s.gammaF = 1.7f, s.rot = -20.0f;
             s.scaleX = 0.7f, s.scaleY = 0.9f, s.usingCA = 1, s.redMult = 0.9f, s.blueMult = 1.1f;
         }},
    };
    for (int depth : {8, 32}) {
        // At 8 bits the layers arrive as bytes; at float depth anything goes.
        const auto level = [depth](float v) {
            return depth == 8 ? std::round(std::clamp(v, 0.0f, 1.0f) * 255.0f) / 255.0f : v;
        };
        Image in(w, h, GL_MIRRORED_REPEAT), map(w, h, GL_MIRRORED_REPEAT);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const float u = float(x) / (w - 1), v = float(y) / (h - 1);
                const float input[4] = {u, v, 0.5f + 0.5f * std::sin(0.9f * float(x * y)),
                                        0.25f + 0.75f * u * v};
                const float m[4] = {(x % 5) == 0 ? 0.0f : u * 1.1f - 0.05f, (y % 4) == 0 ? 1.0f : v,
                                    0.5f + 0.5f * std::cos(0.7f * float(x + 2 * y)),
                                    (x + y) % 3 == 0 ? 1.0f : 0.6f};
                for (int c = 0; c < 4; ++c) {
                    in.at(x, y)[c] = level(input[c]);
                    map.at(x, y)[c] = level(m[c]);
                }
            }
        const GLuint inTex = Texture(in), mapTex = Texture(map);
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.what) + " at " + std::to_string(depth) + " bits");
            // A cache of its own: in a full one, a new look would wait its turn.
            DisplaceVariants variants{};
            DisplaceSettings s;
            s.translateX = 0.06f, s.translateY = -0.04f, s.anchorX = 0.4f, s.anchorY = 0.6f;
            s.offsetF = 0.05f, s.resV = {float(w), float(h)};
            row.set(s);
            UniformMap uniforms = DisplaceUniforms(s, inTex, mapTex);
            uniforms["mapFetchL"] = IVEC(row.mapFetch);
            uniforms["perPixel"] = IVEC(row.perPixel);
            vexo_model::AddWholeGridUniforms(&uniforms, float(w * row.perPixel),
                                             float(h * row.perPixel));
            GLuint variant = 0;
            EXPECT_EQ(CaptureStdout([&] {
                          variant =
                              DisplaceProgramFor(&variants, uniforms, programs_.displaceProgram);
                      }),
                      "");
            ASSERT_NE(variant, programs_.displaceProgram) << "the variant did not build";
            const auto draw = [&](GLuint program) {
                PX_FBO target = FBOHelper::CreateTextureFBO(w, h, GL_CLAMP_TO_BORDER,
                                                            depth == 8 ? GL_RGBA8 : GL_RGBA32F, 0);
                EXPECT_EQ(CaptureStdout([&] {
                              RenderQuad(&target, program, uniforms, 0, A_FloatRect{}, false);
                          }),
                          "");
                std::vector<float> pixels = vexo_test::ReadTarget(target);
                FBOHelper::DeleteGenericFBO(&target);
                return pixels;
            };
            const std::vector<float> general = draw(programs_.displaceProgram);
            const std::vector<float> specialised = draw(variant);
            ASSERT_EQ(general.size(), specialised.size());
            // At 4x the variant writes out the sixteen cells that the general program loops
            // over, and the two may round apart by a few units in a float's last place: a
            // supersampled look is therefore always drawn by its variant.
            const float tolerance = depth == 32 && row.perPixel == 4 ? 1e-6f : 0.0f;
            size_t differing = 0, first = 0;
            for (size_t k = 0; k < general.size(); ++k) {
                const bool same =
                    tolerance > 0.0f
                        ? std::fabs(general[k] - specialised[k]) <= tolerance
                        : std::memcmp(&general[k], &specialised[k], sizeof(float)) == 0;
                if (!same && differing++ == 0) first = k;
            }
            EXPECT_EQ(differing, 0u)
                << "first at pixel " << first / 4 << " channel " << first % 4 << ": "
                << general[first] << " drawn as " << specialised[first];
            DeleteDisplaceVariants(&variants);
        }
    }
}

// Each call a frame of its own, as a frame that draws once.
GLuint FrameProgram(DisplaceVariants* variants, const UniformMap& uniforms, GLuint general,
                    const char* text = nullptr) {
    BeginVariantFrame(variants);
    return text ? DisplaceProgramFor(variants, uniforms, general, text)
                : DisplaceProgramFor(variants, uniforms, general);
}

// A session that keeps changing its look holds no more than the bound, keeps what it uses, and a
// variant that does not build draws with the general program instead, without trying again.
TEST_F(ShaderBehaviourTest, DisplaceVariantsStayBoundedAndOneThatFailsFallsBackToTheGeneral) {
    const int before = vexo_test::CountLiveGLObjects().programs;
    DisplaceVariants variants{};
    std::vector<GLuint> made;
    DisplaceSettings previous;
    GLuint waiting = 0;
    for (int k = 0; k < kMaxDisplaceVariants + 4; ++k) {
        DisplaceSettings s;
        s.easingL = 1 + k % 4, s.gammaF = (k / 4) % 2 ? 0.5f : 1.0f, s.usingCA = k / 8;
        if (k >= kMaxDisplaceVariants) {
            // Every slot taken: the new look waits its turn, drawn by the one direct fallback,
            // while the last one goes on being drawn.
            const GLuint drawn =
                FrameProgram(&variants, DisplaceUniforms(s, 0, 0), programs_.displaceProgram);
            EXPECT_NE(drawn, programs_.displaceProgram);
            EXPECT_EQ(std::count(made.begin(), made.end(), drawn), 0);
            if (k > kMaxDisplaceVariants) {
                EXPECT_EQ(drawn, waiting);
            }
            waiting = drawn;
            for (uint32_t f = 2; f < kFramesPerReplacedVariant; ++f) {
                ASSERT_EQ(FrameProgram(&variants, DisplaceUniforms(previous, 0, 0),
                                       programs_.displaceProgram),
                          made.back());
            }
        }
        made.push_back(
            FrameProgram(&variants, DisplaceUniforms(s, 0, 0), programs_.displaceProgram));
        ASSERT_NE(made.back(), programs_.displaceProgram);
        EXPECT_LE(vexo_test::CountLiveGLObjects().programs, before + kMaxDisplaceVariants + 1);
        previous = s;
    }
    EXPECT_EQ(CountDisplaceVariants(variants), kMaxDisplaceVariants);
    // The latest look is kept, not linked again.
    EXPECT_EQ(FrameProgram(&variants, DisplaceUniforms(previous, 0, 0), programs_.displaceProgram),
              made.back());

    const char* broken = "#version 330 core\nout vec4 FragColor;\nvoid main() { nonsense; }\n";
    DisplaceSettings other;
    other.srcL = 6;
    const UniformMap uniforms = DisplaceUniforms(other, 0, 0);
    for (uint32_t f = 1; f < kFramesPerReplacedVariant; ++f)
        FrameProgram(&variants, DisplaceUniforms(previous, 0, 0), programs_.displaceProgram);
    GLuint program = 0;
    const std::string log = CaptureStdout(
        [&] { program = FrameProgram(&variants, uniforms, programs_.displaceProgram, broken); });
    EXPECT_EQ(program, programs_.displaceProgram);
    EXPECT_NE(log.find("Compile Shader Failed"), std::string::npos) << log;
    EXPECT_EQ(CaptureStdout([&] {
                  program = FrameProgram(&variants, uniforms, programs_.displaceProgram, broken);
              }),
              "");
    EXPECT_EQ(program, programs_.displaceProgram);

    DeleteDisplaceVariants(&variants);
    EXPECT_EQ(CountDisplaceVariants(variants), 0);
    EXPECT_EQ(vexo_test::CountLiveGLObjects().programs, before);
}

// More instances of the effect with different looks than slots, rendered in turn on one thread:
// once the slots are full, the thread builds a program only now and then, and every frame draws
// what the general program draws.
TEST_F(ShaderBehaviourTest, MoreLooksThanSlotsInTurnBuildNowAndThenAndDrawTheSame) {
    const int w = 12, h = 7;
    Image in(w, h, GL_CLAMP_TO_BORDER), map(w, h, GL_CLAMP_TO_BORDER);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float u = float(x) / (w - 1), v = float(y) / (h - 1);
            const float input[4] = {u, v, 1.0f - u, 1.0f};
            const float m[4] = {u, 1.0f - v, u * v, 0.5f + 0.5f * v};
            for (int c = 0; c < 4; ++c) in.at(x, y)[c] = input[c], map.at(x, y)[c] = m[c];
        }
    const GLuint inTex = Texture(in), mapTex = Texture(map);
    const int looks = kMaxDisplaceVariants + 3, rounds = 4;
    std::vector<UniformMap> uniforms;
    std::set<uint32_t> keys;
    for (int k = 0; k < looks; ++k) {
        DisplaceSettings s;
        s.easingL = 1 + k % 4, s.gammaF = (k / 4) % 2 ? 0.7f : 1.0f, s.usingCA = k / 8;
        s.translateX = 0.2f, s.translateY = -0.1f, s.resV = {float(w), float(h)};
        uniforms.push_back(DisplaceUniforms(s, inTex, mapTex));
        keys.insert(DisplaceVariantKey(uniforms.back()));
    }
    // Looks that share a key would fit the slots, and nothing here would wait.
    ASSERT_EQ(keys.size(), uniforms.size());
    std::vector<Image> expected;
    for (const UniformMap& u : uniforms)
        expected.push_back(Draw(programs_.displaceProgram, u, w, h));

    DisplaceVariants variants{};
    const uint64_t start = ProgramBuildsOnThisThread();
    uint64_t after_first_round = start;
    for (int frame = 0; frame < looks * rounds; ++frame) {
        const int k = frame % looks;
        const GLuint program = FrameProgram(&variants, uniforms[k], programs_.displaceProgram);
        const Image drawn = Draw(program, uniforms[k], w, h);
        ASSERT_EQ(std::memcmp(drawn.rgba.data(), expected[k].rgba.data(),
                              drawn.rgba.size() * sizeof(float)),
                  0)
            << "frame " << frame << ", look " << k;
        if (frame == looks - 1) after_first_round = ProgramBuildsOnThisThread();
    }
    // A variant for each slot, and the fallback that draws the look left waiting.
    EXPECT_EQ(after_first_round - start, uint64_t(kMaxDisplaceVariants + 1));
    // Plain least-recently-used would build on every one of these frames.
    const uint64_t later_frames = uint64_t(looks * (rounds - 1));
    EXPECT_LE(ProgramBuildsOnThisThread() - after_first_round, later_frames / 4);
    DeleteDisplaceVariants(&variants);
}

// A session moving through channels and inversion keeps drawing with the program it has: each
// new one would stall its first frame for the driver's code generation.
TEST_F(ShaderBehaviourTest, ChannelAndInversionChangesBuildNoProgram) {
    DisplaceVariants variants{};
    DisplaceSettings s;
    s.srcL = 8;
    const GLuint first =
        FrameProgram(&variants, DisplaceUniforms(s, 0, 0), programs_.displaceProgram);
    ASSERT_NE(first, programs_.displaceProgram);
    const uint64_t builds = ProgramBuildsOnThisThread();
    for (int channel : {1, 2, 3, 4}) {
        s.srcL = channel, s.invert = channel % 2;
        EXPECT_EQ(FrameProgram(&variants, DisplaceUniforms(s, 0, 0), programs_.displaceProgram),
                  first)
            << "channel " << channel;
    }
    EXPECT_EQ(ProgramBuildsOnThisThread(), builds);
    DeleteDisplaceVariants(&variants);
}

}  // namespace
