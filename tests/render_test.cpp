// Whole frames through the effect's commands on llvmpipe, against pictures computed here.
#include <GL/glew.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "context/render_data.h"
#include "gl/gl_errors.h"
#include "host/messages.h"
#include "render/passes.h"
#include "render/reach.h"
#include "render/render_settings.h"
#include "tests/support/displace_model.h"
#include "tests/support/gl_test_support.h"
#include "tests/support/render_test_support.h"

namespace {

using namespace vexo_host;

// Smooth colours with full alpha, so linear sampling near a texel centre changes little.
World Picture(A_long w, A_long h, int depth) {
    return Fill(w, h, depth, [&](A_long x, A_long y, float* p) {
        p[0] = 1.0f;
        p[1] = float(x) / float(w);
        p[2] = float(y) / float(h);
        p[3] = 0.5f + 0.25f * std::sin(0.3f * float(x + y));
    });
}

// A map whose red channel is `red` everywhere.
World RedMap(A_long w, A_long h, int depth, float red) {
    return Fill(w, h, depth, [&](A_long, A_long, float* p) {
        p[0] = 1.0f;
        p[1] = red;
    });
}

// Seeded grain: every pixel unlike its neighbours, as film grain and noise maps are, so that a
// read a rounding step off its place shows.
World Noise(A_long w, A_long h, int depth, uint32_t seed) {
    return Fill(w, h, depth, [&](A_long, A_long, float* p) {
        for (int c = 0; c < 4; ++c) {
            seed = seed * 1664525u + 1013904223u;
            p[c] = float(seed >> 8) / float(1 << 24);
        }
        p[0] = 0.5f + 0.5f * p[0];
    });
}

float At(const World& w, A_long x, A_long y, int c) { return GetChannel(w, x, y, c); }

// Predicted pictures differ from drawn ones by the rounding of the GPU's filtering: about 1e-5
// on llvmpipe, which filters floats at full precision. A wrong control or pass is off by 0.1.
constexpr float kPictureTolerance = 1e-3f;

// No displacement is a copy, and a whole-pixel one a copy moved, at every depth: positions the
// float chain leaves a rounding step off a pixel's centre read that pixel.
TEST_F(RenderTest, NoDisplacementAndWholePixelShiftsAreExact) {
    const A_long w = 1920, h = 1080;
    for (int depth : {8, 32}) {
        SCOPED_TRACE(depth);
        ResetControls();
        const World input = Noise(w, h, depth, 7);
        EXPECT_EQ(MaxDifference(Render(input), input), 0.0f);
        // An 8-bit one is copied, on a thread that makes no context; drawn by GL (gamma moves no
        // pixel without a transform, but leaves the frame to GL) it is the same.
        bool made_context = depth != 8;
        std::thread([&] {
            Render(input);
            made_context = local_render_data != nullptr;
        }).join();
        EXPECT_EQ(made_context, depth != 8);
        Set(kParamMapGamma, 2);
        EXPECT_EQ(MaxDifference(Render(input), input), 0.0f);
        Set(kParamMapGamma, 1);
        const World white = RedMap(w, h, depth, 1.0f);
        Set(kParamChannel, kChannelRed);
        Set(kParamTranslateX, 10);  // 192 pixels
        Set(kParamTranslateY, -5);  // 54 rows towards the first
        const World out = Render(input, &white);
        const World moved = Fill(w, h, depth, [&](A_long x, A_long y, float* p) {
            for (int c = 0; c < 4; ++c)
                p[c] = x >= 192 && y + 54 < h ? At(input, x - 192, y + 54, c) : 0;
        });
        EXPECT_EQ(MaxDifference(out, moved), 0.0f);
        // Ten widths under Repeat: the input itself.
        Set(kParamEdgeBehavior, kEdgeRepeat);
        Set(kParamTranslateX, 1000);
        Set(kParamTranslateY, 0);
        EXPECT_EQ(MaxDifference(Render(input, &white), input), 0.0f);
    }
}

TEST_F(RenderTest, ValuesBeyondOneSurviveAtFloatDepth) {
    const World input = Fill(16, 8, 32, [](A_long x, A_long, float* p) {
        p[0] = 1.0f;
        p[1] = 2.5f;
        p[2] = -0.5f;
        p[3] = float(x) * 10.0f;
    });
    // A map of zeros leaves every pixel where it is.
    const World map = RedMap(16, 8, 32, 0.0f);
    Set(kParamChannel, kChannelRed);
    EXPECT_LT(MaxDifference(Render(input, &map), input), 1e-4f);
}

TEST_F(RenderTest, FullMapTranslatesByWholePixels) {
    const A_long w = 100, h = 40;
    const World input = Picture(w, h, 32);
    const World map = RedMap(w, h, 32, 1.0f);
    Set(kParamChannel, kChannelRed);
    Set(kParamTranslateX, 10);   // percent of the width: 10 pixels
    Set(kParamTranslateY, -25);  // 10 rows towards the first row

    struct EdgeCase {
        int edge;
        std::function<bool(A_long sx, A_long sy, A_long* x, A_long* y)> source;
    } cases[] = {
        {kEdgeNone, [&](A_long sx, A_long sy, A_long*, A_long*) { return sx >= 0 && sy < h; }},
        {kEdgeRepeat,
         [&](A_long sx, A_long sy, A_long* x, A_long* y) {
             *x = (sx + w) % w, *y = (sy + h) % h;
             return true;
         }},
        {kEdgeEdgeRepeat,
         [&](A_long sx, A_long sy, A_long* x, A_long* y) {
             *x = std::max<A_long>(sx, 0), *y = std::min<A_long>(sy, h - 1);
             return true;
         }},
    };
    for (const EdgeCase& c : cases) {
        Set(kParamEdgeBehavior, c.edge);
        const World out = Render(input, &map);
        float worst = 0;
        for (A_long y = 0; y < h; ++y) {
            for (A_long x = 0; x < w; ++x) {
                A_long sx = x - 10, sy = y + 10;
                const bool inside = c.source(sx, sy, &sx, &sy);
                for (int ch = 0; ch < 4; ++ch) {
                    const float expected = inside ? At(input, sx, sy, ch) : 0.0f;
                    worst = std::max(worst, std::fabs(At(out, x, y, ch) - expected));
                }
            }
        }
        EXPECT_EQ(worst, 0.0f) << "edge behaviour " << c.edge;
    }
}

TEST_F(RenderTest, MapIsPlacedByItsSizeAndOrigin) {
    const A_long w = 80, h = 40;
    const World input = Picture(w, h, 32);
    Set(kParamChannel, kChannelRed);
    Set(kParamTranslateX, 5);  // 4 pixels
    // A 20-pixel-wide map within the input, across its left edge and across its right edge:
    // only the columns it covers move.
    for (const A_long origin : {30, -10, 70}) {
        World map = RedMap(20, h, 32, 1.0f);
        map.def.origin_x = origin;
        const World out = Render(input, &map);
        for (A_long y = 0; y < h; ++y) {
            for (A_long x = 0; x < w; ++x) {
                const bool moved = x >= origin && x < origin + 20;
                const A_long sx = moved ? x - 4 : x;
                // Outside the map's footprint the map reads 0: the displacement is 1e-5 of 4 px.
                EXPECT_NEAR(At(out, x, y, 1), moved && sx < 0 ? 0.0f : At(input, sx, y, 1), 1e-3f)
                    << "origin " << origin << " at " << x << "," << y;
            }
        }
    }
}

TEST_F(RenderTest, SoftnessWithoutAMapBlursTheInputIntoTheMap) {
    // Left half black, right half white; the map view shows the processed map.
    const World input = Fill(40, 8, 32, [](A_long x, A_long, float* p) {
        p[0] = 1.0f;
        p[1] = p[2] = p[3] = x < 20 ? 0.0f : 1.0f;
    });
    Set(kParamView, kViewMap);
    World sharp = Render(input);
    EXPECT_NEAR(At(sharp, 19, 4, 1), 0.00001f, 1e-6f);  // map value 0 is replaced
    EXPECT_NEAR(At(sharp, 20, 4, 1), 1.0f, 1e-5f);
    EXPECT_EQ(At(sharp, 20, 4, 0), 1.0f);  // the map view is opaque

    Set(kParamMapSoftness, 10);
    World soft = Render(input);
    EXPECT_GT(At(soft, 19, 4, 1), 0.2f);
    EXPECT_LT(At(soft, 20, 4, 1), 0.8f);
    EXPECT_NEAR(At(soft, 0, 4, 1), 0.00001f, 1e-3f);  // far from the edge: still black
}

TEST_F(RenderTest, SoftnessBlursTheMapLayerOnlyAboveATenthOfAPixel) {
    // The input's red grows across the frame; the map layer's red steps from 0 to 1 at column
    // 20. The map view shows what the displacement reads.
    const A_long w = 40, h = 16;
    const World input = Fill(w, h, 32, [&](A_long x, A_long, float* p) {
        p[0] = 1.0f;
        p[1] = float(x) / float(w);
    });
    const World map = Fill(w, h, 32, [](A_long x, A_long, float* p) {
        p[0] = 1.0f;
        p[1] = x < 20 ? 0.0f : 1.0f;
    });
    Set(kParamChannel, kChannelRed);
    Set(kParamView, kViewMap);
    const World sharp = Render(input, &map);
    EXPECT_EQ(At(sharp, 19, 8, 1), 0.00001f);
    EXPECT_EQ(At(sharp, 20, 8, 1), 1.0f);

    // Softness blurs the map layer, not the input: the step softens, and away from it the
    // map's own 0 and 1 remain.
    Set(kParamMapSoftness, 4);
    const World soft = Render(input, &map);
    EXPECT_GT(At(soft, 19, 8, 1), 0.2f);
    EXPECT_LT(At(soft, 20, 8, 1), 0.8f);
    EXPECT_NEAR(At(soft, 4, 8, 1), 0.00001f, 1e-5f);
    EXPECT_NEAR(At(soft, 34, 8, 1), 1.0f, 1e-4f);

    // A radius of exactly 0.1 pixels is no blur at all, at full and at half resolution.
    Set(kParamMapSoftness, 0.1);
    EXPECT_EQ(MaxDifference(Render(input, &map), sharp), 0.0f);
    FrameOptions half;
    half.downsample = {1, 2};
    Set(kParamMapSoftness, 0);
    const World sharp_half = Render(input, &map, half);
    Set(kParamMapSoftness, 0.2);
    EXPECT_EQ(MaxDifference(Render(input, &map, half), sharp_half), 0.0f);
}

// A wide softness blurs on cells of a few pixels, and a map of one value a pixel on the frame's
// grid four pixels a texel. Against the blur on the frame's own grid a pixel a texel, a full-size
// frame displaced as users do differs at 8 bits by more than one step on at most 0.1% of its
// pixels; at float depth by 2e-3 at most and 2e-4 on average. Grain is the hardest map, the
// smallest radius of each cell size its hardest radius. The picture and the edge modes have no
// hard edge, which any change of the map, however small, would move by whole pixels.
TEST_F(RenderTest, WideSoftnessOnCellsKeepsTheFrameOfTheFramesGrid) {
    const A_long w = 1920, h = 1080;
    enum MapKind { kGrain, kSmooth, kInput };
    struct Row {
        double radius;
        MapKind map;
        int edge;
        int aa;
    } const rows[] = {
        {0.3, kGrain, kEdgeNone, kAntiAliasingNone},
        {4, kSmooth, kEdgeRepeat, kAntiAliasingNone},
        {10, kGrain, kEdgeMirrorRepeat, kAntiAliasing2x},
        {12, kGrain, kEdgeEdgeRepeat, kAntiAliasingNone},
        {12, kInput, kEdgeMirrorRepeat, kAntiAliasingNone},
        {32, kGrain, kEdgeRepeat, kAntiAliasingNone},
        {100, kSmooth, kEdgeMirrorRepeat, kAntiAliasingNone},
        {24, kGrain, kEdgeEdgeRepeat, kAntiAliasing2x},
    };
    const double two_pi = 6.283185307179586;
    for (int depth : {8, 32}) {
        // Every channel a wave that wraps: no edge at the frame's edges either.
        const World input = Fill(w, h, depth, [&](A_long x, A_long y, float* p) {
            const double u = double(x) / w, v = double(y) / h;
            p[0] = 1.0f;
            p[1] = float(0.5 + 0.4 * std::cos(two_pi * u));
            p[2] = float(0.5 + 0.4 * std::cos(two_pi * v));
            p[3] = float(0.5 + 0.25 * std::sin(two_pi * (3 * u + v)));
        });
        const World grain = Noise(w, h, depth, 11);
        const World smooth = Fill(w, h, depth, [&](A_long x, A_long y, float* p) {
            const double u = double(x) / w, v = double(y) / h;
            p[0] = 1.0f;
            p[1] = float(0.5 + 0.5 * std::sin(two_pi * 3 * u) * std::cos(two_pi * 2 * v));
        });
        for (const Row& row : rows) {
            SCOPED_TRACE("radius " + std::to_string(row.radius) + ", map " +
                         std::to_string(row.map) + ", edge " + std::to_string(row.edge) + ", aa " +
                         std::to_string(row.aa) + ", " + std::to_string(depth) + " bits");
            ResetControls();
            Set(kParamChannel, row.map == kInput ? kChannelLuminance : kChannelRed);
            Set(kParamTranslateX, 10);
            Set(kParamTranslateY, -5);
            Set(kParamRotate, 15);
            Set(kParamScaleX, 120);
            Set(kParamEdgeBehavior, row.edge);
            Set(kParamAntiAliasing, row.aa);
            Set(kParamMapSoftness, row.radius);
            const World* map = row.map == kGrain ? &grain : row.map == kSmooth ? &smooth : nullptr;
            SetSoftnessCellsForTesting(1);
            SetPackedSoftnessForTesting(false);
            const World grid = Render(input, map);
            SetPackedSoftnessForTesting(true);
            std::vector<World> ways;
            ways.push_back(Render(input, map));
            SetSoftnessCellsForTesting(0);
            if (row.radius >= 12) ways.push_back(Render(input, map));
            for (const World& way : ways) {
                double sum = 0.0;
                int64_t beyond_step = 0;
                float worst = 0.0f;
                for (A_long y = 0; y < h; ++y) {
                    for (A_long x = 0; x < w; ++x) {
                        float pixel = 0.0f;
                        for (int c = 0; c < 4; ++c) {
                            const float d = std::fabs(At(way, x, y, c) - At(grid, x, y, c));
                            pixel = std::max(pixel, d);
                            sum += d;
                        }
                        worst = std::max(worst, pixel);
                        beyond_step += pixel > 1.5f / 255.0f;
                    }
                }
                const double pixels = double(w) * h;
                if (depth == 8) {
                    EXPECT_LE(beyond_step, int64_t(0.001 * pixels));
                } else {
                    EXPECT_LE(worst, 2e-3f);
                    EXPECT_LE(sum / (4 * pixels), 2e-4);
                }
            }
        }
    }
}

TEST_F(RenderTest, SupersamplingKeepsTheFrameSizeAndFlatAreas) {
    const World flat = Fill(100, 50, 32, [](A_long, A_long, float* p) {
        p[0] = 1.0f, p[1] = 0.25f, p[2] = 0.5f, p[3] = 0.75f;
    });
    for (int aa : {kAntiAliasing2x, kAntiAliasing4x}) {
        Set(kParamAntiAliasing, aa);
        const World out = Render(flat);
        ASSERT_EQ(out.def.width, 100);
        ASSERT_EQ(out.def.height, 50);
        // Away from the borders, where the reduction reads outside the frame.
        for (A_long y = 5; y < 45; ++y) {
            for (A_long x = 5; x < 95; ++x) {
                for (int c = 0; c < 4; ++c) {
                    ASSERT_NEAR(At(out, x, y, c), At(flat, x, y, c), 1e-4f) << aa;
                }
            }
        }
    }
}

// The N x N samples of a pixel lie about its centre whatever the frame's shape: at no
// displacement a square stays where it is, and strips render under every edge mode, down to a
// single pixel asked of them.
TEST_F(RenderTest, SupersamplingKeepsThePictureInPlaceAtAnyAspect) {
    const auto centroid = [](const World& w) {
        double sx = 0, sy = 0, sum = 0;
        for (A_long y = 0; y < w.def.height; ++y) {
            for (A_long x = 0; x < w.def.width; ++x) {
                const double v = At(w, x, y, 1);
                sx += v * x, sy += v * y, sum += v;
            }
        }
        return std::make_pair(sx / sum, sy / sum);
    };
    struct Frame {
        A_long w, h, x, y;  // an 8x8 white square at x, y
    } const frames[] = {{192, 108, 70, 30}, {16, 1024, 4, 500}, {1, 7, 0, 0}};
    for (const Frame& f : frames) {
        const World input = Fill(f.w, f.h, 32, [&](A_long x, A_long y, float* p) {
            const bool in = x >= f.x && x < f.x + 8 && y >= f.y && y < f.y + 8;
            p[0] = 1.0f, p[1] = p[2] = p[3] = in ? 1.0f : 0.0f;
        });
        for (const vexo_model::EdgeWrap& e : vexo_model::kEdgeWraps) {
            ResetControls();
            Set(kParamEdgeBehavior, e.edge);
            const auto direct = centroid(Render(input));
            for (int aa : {kAntiAliasing2x, kAntiAliasing4x}) {
                SCOPED_TRACE(testing::Message() << f.w << "x" << f.h << ", edge behaviour "
                                                << e.edge << ", anti-aliasing " << aa);
                Set(kParamAntiAliasing, aa);
                const auto [x, y] = centroid(Render(input));
                EXPECT_NEAR(x, direct.first, 0.01);
                EXPECT_NEAR(y, direct.second, 0.01);
                FrameOptions corner;
                corner.region = PF_LRect{0, 0, 1, 1};
                EXPECT_EQ(Render(input, nullptr, corner).def.width, 1);
            }
        }
    }
}

// The input as the passes hold it: red, green, blue, alpha.
vexo_model::Image AsTexture(const World& w, GLint wrap) {
    vexo_model::Image image(w.def.width, w.def.height, wrap);
    for (A_long y = 0; y < w.def.height; ++y) {
        for (A_long x = 0; x < w.def.width; ++x) {
            for (int c = 0; c < 4; ++c) image.at(x, y)[c] = At(w, x, y, (c + 1) % 4);
        }
    }
    return image;
}

// Largest difference between a rendered world and a predicted one (host order per pixel).
float WorstDifference(const World& out, const std::function<vexo_model::RGBA(A_long, A_long)>& f) {
    float worst = 0;
    for (A_long y = 0; y < out.def.height; ++y) {
        for (A_long x = 0; x < out.def.width; ++x) {
            const vexo_model::RGBA expected = f(x, y);
            for (int c = 0; c < 4; ++c) {
                const float d = std::fabs(At(out, x, y, c) - expected.c[c]);
                worst = std::isnan(d) ? INFINITY : std::max(worst, d);
            }
        }
    }
    return worst;
}

TEST_F(RenderTest, EachControlReachesItsUniformAndThePicture) {
    const A_long w = 40, h = 24;
    const World input = Picture(w, h, 32);
    // A map of four distinct channels, so that each channel choice and each map adjustment
    // gives its own value.
    const World map = Fill(w, h, 32, [](A_long, A_long, float* p) {
        p[0] = 1.0f, p[1] = 0.75f, p[2] = 0.25f, p[3] = 0.5f;
    });
    using vexo_model::DisplaceSettings;
    struct Row {
        const char* what;
        std::vector<std::pair<PF_ParamIndex, double>> controls;
        std::function<void(DisplaceSettings&)> expect;
        GLint wrap;
    } rows[] = {
        {"translate x", {}, [](DisplaceSettings&) {}, GL_CLAMP_TO_BORDER},
        {"translate y",
         {{kParamTranslateY, -20}},
         [](DisplaceSettings& s) { s.translateY = -0.2f; },
         GL_CLAMP_TO_BORDER},
        {"rotate",
         {{kParamRotate, 30}},
         [](DisplaceSettings& s) { s.rot = 30; },
         GL_CLAMP_TO_BORDER},
        {"anchor x",
         {{kParamRotate, 30}, {kParamAnchorX, 25}},
         [](DisplaceSettings& s) { s.rot = 30, s.anchorX = 0.25f; },
         GL_CLAMP_TO_BORDER},
        {"anchor y",
         {{kParamRotate, 30}, {kParamAnchorY, 75}},
         [](DisplaceSettings& s) { s.rot = 30, s.anchorY = 0.75f; },
         GL_CLAMP_TO_BORDER},
        {"scale x",
         {{kParamUniformScale, 0}, {kParamScaleX, 50}},
         [](DisplaceSettings& s) { s.scaleX = 0.5f; },
         GL_CLAMP_TO_BORDER},
        {"scale y",
         {{kParamUniformScale, 0}, {kParamScaleY, 200}},
         [](DisplaceSettings& s) { s.scaleY = 2.0f; },
         GL_CLAMP_TO_BORDER},
        {"uniform scale",
         {{kParamScaleY, 300}, {kParamScaleX, 80}},
         [](DisplaceSettings& s) { s.scaleX = s.scaleY = 0.8f; },
         GL_CLAMP_TO_BORDER},
        {"invert",
         {{kParamInvertMap, 1}},
         [](DisplaceSettings& s) { s.invert = 1; },
         GL_CLAMP_TO_BORDER},
        {"gamma",
         {{kParamMapGamma, 2}},
         [](DisplaceSettings& s) { s.gammaF = 2; },
         GL_CLAMP_TO_BORDER},
        {"offset",
         {{kParamDisplacementOffset, 0.2}},
         [](DisplaceSettings& s) { s.offsetF = 0.2f; },
         GL_CLAMP_TO_BORDER},
        {"easing",
         {{kParamDisplacementEasing, kEasingOut}},
         [](DisplaceSettings& s) { s.easingL = kEasingOut; },
         GL_CLAMP_TO_BORDER},
        {"green channel",
         {{kParamChannel, kChannelGreen}},
         [](DisplaceSettings& s) { s.srcL = kChannelGreen; },
         GL_CLAMP_TO_BORDER},
        {"luminance",
         {{kParamChannel, kChannelLuminance}},
         [](DisplaceSettings& s) { s.srcL = kChannelLuminance; },
         GL_CLAMP_TO_BORDER},
        {"red multiplier",
         {{kParamRedMultiplier, 2}},
         [](DisplaceSettings& s) { s.usingCA = 1, s.redMult = 2; },
         GL_CLAMP_TO_BORDER},
        {"green multiplier",
         {{kParamGreenMultiplier, 0.5}},
         [](DisplaceSettings& s) { s.usingCA = 1, s.greenMult = 0.5f; },
         GL_CLAMP_TO_BORDER},
        {"blue multiplier",
         {{kParamBlueMultiplier, -1}},
         [](DisplaceSettings& s) { s.usingCA = 1, s.blueMult = -1; },
         GL_CLAMP_TO_BORDER},
        {"map view",
         {{kParamView, kViewMap}},
         [](DisplaceSettings& s) { s.dstL = 1; },
         GL_CLAMP_TO_BORDER},
        {"edge",
         {{kParamEdgeBehavior, kEdgeMirrorRepeat}},
         [](DisplaceSettings&) {},
         GL_MIRRORED_REPEAT},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ResetControls();
        // Every row moves the picture, so that what changes the displacement shows.
        Set(kParamChannel, kChannelRed);
        Set(kParamTranslateX, 10);
        for (const auto& control : row.controls) Set(control.first, control.second);
        DisplaceSettings expected;
        expected.translateX = 0.1f;
        expected.anchorX = expected.anchorY = 0.0f;
        expected.resV = {float(w), float(h)};
        row.expect(expected);

        // What the displacement program is given.
        PF_ParamDef defs[kParamCount];
        for (PF_ParamIndex i = 0; i < kParamCount; ++i) defs[i] = CurrentDef(*instance_, i);
        myParams p{};
        p.inputWorld = const_cast<PF_LayerDef*>(&input.def);
        p.mapWorld = const_cast<PF_LayerDef*>(&map.def);
        p.frameSize = {float(w), float(h)};
        ResolveRenderSettings(defs, 32, PF_RationalScale{1, 1}, &p);
        UniformMap given;
        SendDisplaceUniforms(given, &p);
        for (const auto& entry : vexo_model::DisplaceUniforms(expected, 0, 0)) {
            if (entry.second.type == kUniformTexRect) continue;
            SCOPED_TRACE(entry.first);
            ASSERT_EQ(given.count(entry.first), 1u);
            const uniform_t& u = given[entry.first];
            ASSERT_EQ(u.type, entry.second.type);
            if (u.type == kUniformInt) {
                EXPECT_EQ(u.value.i[0], entry.second.value.i[0]);
            }
            const int floats = u.type == kUniformFloat2 ? 2 : u.type == kUniformFloat ? 1 : 0;
            for (int k = 0; k < floats; ++k) EXPECT_FLOAT_EQ(u.value.f[k], entry.second.value.f[k]);
        }

        // And what it draws with it.
        const vexo_model::Image in = AsTexture(input, row.wrap), m = AsTexture(map, row.wrap);
        const World out = Render(input, &map);
        EXPECT_LT(WorstDifference(out,
                                  [&](A_long x, A_long y) {
                                      const double u = (x + 0.5) / w, v = (y + 0.5) / h;
                                      const vexo_model::RGBA at = m.sample(u, v);
                                      return vexo_model::Displace(expected, in, at.c, u, v);
                                  }),
                  kPictureTolerance);
    }
}

TEST_F(RenderTest, SupersamplingDisplacesTheUpsampledInputAndReducesIt) {
    // Detail a few pixels across, which the upsampling's B-spline visibly softens.
    const A_long w = 36, h = 24;
    const auto picture = [](A_long x, A_long y, float* p) {
        p[0] = 0.6f + 0.3f * std::sin(0.7f * float(x + y));
        p[1] = 0.5f + 0.4f * std::sin(1.1f * float(x));
        p[2] = 0.5f + 0.4f * std::cos(0.9f * float(y));
        p[3] = float(x) / float(w);
    };
    // A map that varies between its texels, read filtered between texel centres by one channel
    // and by the colours' mean.
    const auto colours = [](A_long x, A_long y, float* p) {
        p[0] = 1.0f;
        p[1] = 0.9f - 0.02f * float(x);
        p[2] = 0.5f + 0.4f * std::sin(0.5f * float(y));
        p[3] = 1.0f;
    };
    Set(kParamTranslateX, 7.5);
    Set(kParamTranslateY, 5);
    Set(kParamRotate, 10);
    Set(kParamAnchorX, 50);
    Set(kParamAnchorY, 50);
    vexo_model::DisplaceSettings s;
    s.translateX = 0.075f;
    s.translateY = 0.05f;
    s.rot = 10;
    s.resV = {float(w), float(h)};
    // At 8 bits and 2x the input stays the host's bytes, read texel by texel; the output rounds
    // to a step.
    for (int depth : {8, 32}) {
        const World input = Fill(w, h, depth, picture), map = Fill(w, h, depth, colours);
        const float tolerance = depth == 8 ? 1.0f / 255 : kPictureTolerance;
        // The reads cross the frame's edges, where each edge mode repeats the upsampled cells.
        for (const vexo_model::EdgeWrap& e : vexo_model::kEdgeWraps) {
            Set(kParamEdgeBehavior, e.edge);
            const vexo_model::Image in = AsTexture(input, e.wrap);
            const vexo_model::Image m = AsTexture(map, e.wrap);
            for (int n : {2, 4}) {
                Set(kParamAntiAliasing, n == 2 ? kAntiAliasing2x : kAntiAliasing4x);
                const int sw = n * w, sh = n * h;
                vexo_model::Image up(sw, sh, e.wrap), displaced(sw, sh, e.wrap);
                for (int y = 0; y < sh; ++y) {
                    for (int x = 0; x < sw; ++x) {
                        const double u = (x + 0.5) / sw, v = (y + 0.5) / sh;
                        const vexo_model::RGBA b = vexo_model::BSpline(in, u, v);
                        std::copy(b.c, b.c + 4, up.at(x, y));
                    }
                }
                for (int channel : {kChannelGreen, kChannelLuminance}) {
                    SCOPED_TRACE(testing::Message()
                                 << depth << " bits, " << n << "x, edge behaviour " << e.edge
                                 << ", channel " << channel);
                    Set(kParamChannel, channel);
                    s.srcL = channel;
                    for (int y = 0; y < sh; ++y) {
                        for (int x = 0; x < sw; ++x) {
                            const double u = (x + 0.5) / sw, v = (y + 0.5) / sh;
                            const vexo_model::RGBA d =
                                vexo_model::Displace(s, up, m.sample(u, v).c, u, v);
                            std::copy(d.c, d.c + 4, displaced.at(x, y));
                        }
                    }
                    const World out = Render(input, &map);
                    EXPECT_LT(WorstDifference(out,
                                              [&](A_long x, A_long y) {
                                                  return vexo_model::Oversampled(displaced, n, x,
                                                                                 y);
                                              }),
                              tolerance);
                }
            }
        }
    }
}

TEST_F(RenderTest, ZeroMultiplierKeepsItsChannelAtScaleOneHundred) {
    // With aberration on, a multiplier of 0 gives that channel a map value of exactly 0; the
    // scale factor there must be its limit, 1, not 0/0.
    const World input = Picture(50, 20, 32);
    const World map = RedMap(50, 20, 32, 1.0f);
    Set(kParamChannel, kChannelRed);
    Set(kParamTranslateX, 10);  // 5 pixels
    Set(kParamRedMultiplier, 0);
    const World out = Render(input, &map);
    for (A_long y = 0; y < 20; ++y) {
        for (A_long x = 5; x < 50; ++x) {
            ASSERT_NEAR(At(out, x, y, 1), At(input, x, y, 1), 1e-5f) << x;      // red stays
            ASSERT_NEAR(At(out, x, y, 2), At(input, x - 5, y, 2), 1e-5f) << x;  // green moves
        }
    }
}

TEST_F(RenderTest, AnEmptyMapLayerIsAMapThatCoversNothing) {
    // The map reads 0 everywhere: the picture moves by 1e-5 of the translation, not by its own
    // luminance as it would with no map layer at all.
    const World input = Picture(40, 20, 32);
    Set(kParamTranslateX, 25);  // 10 pixels at a map value of 1
    for (const auto& size : {std::make_pair(0, 20), std::make_pair(40, 0), std::make_pair(0, 0)}) {
        SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second));
        const World empty = MakeWorld(size.first, size.second, 32);
        Set(kParamView, kViewResult);
        EXPECT_LT(MaxDifference(Render(input, &empty), input), 1.01e-4f);
        Set(kParamView, kViewMap);
        const World shown = Render(input, &empty);
        EXPECT_EQ(At(shown, 7, 3, 1), 0.00001f);
        EXPECT_EQ(At(shown, 31, 17, 3), 0.00001f);
    }
}

TEST_F(RenderTest, TheAntiAliasingSeparatorRendersDirect) {
    // Only an expression or a damaged project can pick it.
    const World input = Picture(30, 20, 32);
    const World map = RedMap(30, 20, 32, 0.5f);
    Set(kParamChannel, kChannelRed);
    Set(kParamTranslateX, 10);
    Set(kParamRotate, 20);
    const World direct = Render(input, &map);
    Set(kParamAntiAliasing, 2);
    EXPECT_EQ(MaxDifference(Render(input, &map), direct), 0.0f);
}

// The pixels of `r` (within `w`), placed where they lie.
World Crop(const World& w, const PF_LRect& r) {
    World part = MakeWorld(r.right - r.left, r.bottom - r.top, w.depth);
    part.def.origin_x = r.left, part.def.origin_y = r.top;
    for (A_long y = r.top; y < r.bottom; ++y) {
        for (A_long x = r.left; x < r.right; ++x) {
            for (int c = 0; c < 4; ++c) SetChannel(&part, x - r.left, y - r.top, c, At(w, x, y, c));
        }
    }
    return part;
}

// Regions and tiles never show a seam.
TEST_F(RenderTest, ARegionIsTheCropOfTheWholeFrame) {
    const A_long w = 50, h = 30;
    struct Case {
        const char* what;
        std::vector<std::pair<PF_ParamIndex, double>> controls;
    } cases[] = {
        {"direct", {}},
        {"2x", {{kParamAntiAliasing, kAntiAliasing2x}}},
        {"4x", {{kParamAntiAliasing, kAntiAliasing4x}}},
        {"softness", {{kParamMapSoftness, 6}}},
        {"softened, 2x", {{kParamMapSoftness, 5}, {kParamAntiAliasing, kAntiAliasing2x}}},
        {"repeat, softened", {{kParamEdgeBehavior, kEdgeRepeat}, {kParamMapSoftness, 4}}},
        // Blurred on cells of 2 and of 4 pixels, reaching past every edge.
        {"widely softened", {{kParamMapSoftness, 12}}},
        {"mirror repeat, widely softened, 2x",
         {{kParamEdgeBehavior, kEdgeMirrorRepeat},
          {kParamMapSoftness, 70},
          {kParamAntiAliasing, kAntiAliasing2x}}},
        {"mirror repeat, 4x",
         {{kParamEdgeBehavior, kEdgeMirrorRepeat}, {kParamAntiAliasing, kAntiAliasing4x}}},
        {"edge repeat", {{kParamEdgeBehavior, kEdgeEdgeRepeat}}},
        {"map view", {{kParamView, kViewMap}, {kParamMapSoftness, 3}}},
        {"hue, softened, 2x",
         {{kParamChannel, kChannelHue},
          {kParamMapSoftness, 2.5},
          {kParamAntiAliasing, kAntiAliasing2x}}},
        // Each bounds where the input is read on its own.
        {"scale, colours, curve",
         {{kParamScaleX, 130},
          {kParamRedMultiplier, 1.6},
          {kParamDisplacementOffset, 0.2},
          {kParamDisplacementEasing, kEasingInOut},
          {kParamMapGamma, 2}}},
    };
    // Inside, reaching past each corner, one pixel, and the whole layer asked for by a region.
    const PF_LRect regions[] = {
        {7, 5, 31, 22}, {-9, -4, 13, 11}, {38, 17, 70, 45}, {49, 0, 50, 1}, {-5, -5, 60, 40}};
    for (int depth : {8, 32}) {
        const World input = Noise(w, h, depth, 1);
        // Smaller than the input and placed off its corner, so that the map's footprint shows.
        World map = Noise(40, 26, depth, 2);
        map.def.origin_x = 6, map.def.origin_y = 3;
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(depth) + " bits");
            ResetControls();
            Set(kParamChannel, kChannelRed);
            Set(kParamTranslateX, 30);
            Set(kParamTranslateY, -20);
            Set(kParamRotate, 25);
            Set(kParamAnchorX, 30);
            for (const auto& [index, value] : c.controls) Set(index, value);
            const World whole = Render(input, &map);
            // Supersampled in tiles of a few pixels, bit for bit.
            SetSamplesPerDrawForTesting(256);
            EXPECT_EQ(MaxDifference(Render(input, &map), whole), 0.0f) << "in tiles";
            SetSamplesPerDrawForTesting(0);
            for (const PF_LRect& r : regions) {
                SCOPED_TRACE(std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                             std::to_string(r.right) + "," + std::to_string(r.bottom));
                FrameOptions options;
                options.region = r;
                const World part = Render(input, &map, options);
                const PF_LRect on_layer{std::max<A_long>(r.left, 0), std::max<A_long>(r.top, 0),
                                        std::min(r.right, w), std::min(r.bottom, h)};
                EXPECT_EQ(part.def.origin_x, on_layer.left);
                EXPECT_EQ(part.def.origin_y, on_layer.top);
                EXPECT_EQ(MaxDifference(part, Crop(whole, on_layer)), 0.0f);
            }
        }
    }
    // Rounding grows with the frame's width: a full-size frame of grain, translated, turned and
    // softened.
    for (int depth : {8, 32}) {
        SCOPED_TRACE(std::to_string(depth) + " bits at 1920x1080");
        ResetControls();
        const World input = Noise(1920, 1080, depth, 3), map = Noise(1920, 1080, depth, 4);
        Set(kParamTranslateX, 10);
        Set(kParamRotate, 5);
        Set(kParamMapSoftness, 5);
        const World whole = Render(input, &map);
        FrameOptions options;
        options.region = PF_LRect{301, 207, 777, 611};
        EXPECT_EQ(MaxDifference(Render(input, &map, options), Crop(whole, *options.region)), 0.0f);
    }
}

// A look keyframed through more easings and edge modes than the cache holds, supersampled in
// over a hundred tiles a frame: each frame's look is drawn by its own variant (a region drawn by
// the general program would round apart from the whole frame), built at most once a frame
// whatever the frame's tiles.
TEST_F(RenderTest, ALookChangingEveryFrameLinksBoundedProgramsHoweverManyTiles) {
    const World input = Noise(64, 36, 8, 5);
    const int easings[] = {kEasingNone, kEasingIn, kEasingOut, kEasingInOut};
    const int edges[] = {kEdgeNone, kEdgeRepeat, kEdgeMirrorRepeat};
    uint64_t builds = 0;
    std::thread([&] {
        Set(kParamAntiAliasing, kAntiAliasing4x);
        Set(kParamDisplacementEasing, kEasingInOut);
        Set(kParamEdgeBehavior, kEdgeEdgeRepeat);
        Render(input);  // the thread's six programs and its first look
        SetSamplesPerDrawForTesting(256);
        const uint64_t start = ProgramBuildsOnThisThread();
        for (int frame = 0; frame < 12; ++frame) {
            Set(kParamDisplacementEasing, easings[frame % 4]);
            Set(kParamEdgeBehavior, edges[frame / 4]);
            Render(input);
        }
        builds = ProgramBuildsOnThisThread() - start;
        SetSamplesPerDrawForTesting(0);
    }).join();
    EXPECT_EQ(builds, 12u);
}

// A softness dragged through more kernel lengths than a thread keeps programs for: every frame
// holds the bytes of its softness drawn by another thread, whose kept programs are the others
// (a program made for one length rounds as the general one, or a region and the whole frame
// differ), and the thread builds now and then, not on every frame.
TEST_F(RenderTest, ASoftnessDraggedThroughManyRadiiDrawsAsAnotherThreadWithBoundedBuilds) {
    const World input = Noise(64, 36, 8, 5), map = Noise(64, 36, 8, 9);
    Set(kParamTranslateX, 10);
    const double radii[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const int kRadii = 8, kFrames = 24;
    // Blue blurs four pixels a texel; hue blurs the colours, a pixel a texel.
    for (const int channel : {kChannelBlue, kChannelHue}) {
        SCOPED_TRACE(channel == kChannelHue ? "hue" : "blue");
        Set(kParamChannel, channel);
        std::vector<World> expected(kRadii);
        std::thread([&] {
            for (int i = kRadii - 1; i >= 0; --i) {
                Set(kParamMapSoftness, radii[i]);
                expected[size_t(i)] = Render(input, &map);
            }
        }).join();
        uint64_t builds = 0;
        std::thread([&] {
            Set(kParamMapSoftness, radii[0]);
            Render(input, &map);
            const uint64_t start = ProgramBuildsOnThisThread();
            for (int frame = 0; frame < kFrames; ++frame) {
                Set(kParamMapSoftness, radii[frame % kRadii]);
                EXPECT_EQ(MaxDifference(Render(input, &map), expected[size_t(frame % kRadii)]),
                          0.0f)
                    << "softness " << radii[frame % kRadii];
            }
            builds = ProgramBuildsOnThisThread() - start;
        }).join();
        // Two programs a length; plain least-recently-used would build on 21 of the frames.
        EXPECT_LE(builds, uint64_t(2 * (kMaxPackedKernels + kFrames / kFramesPerReplacedVariant)));
    }
}

TEST_F(RenderTest, FloatOutputIsNeverNaNOrInfinite) {
    const World input = Picture(24, 12, 32);
    struct Case {
        const char* what;
        float map;  // red of the map layer
        std::vector<std::pair<PF_ParamIndex, double>> controls;
    } cases[] = {
        {"gamma 0 on a map value of 0", 0.0f, {{kParamMapGamma, 0}}},
        {"a negative base under gamma",
         0.5f,
         {{kParamDisplacementOffset, -1.5}, {kParamMapGamma, 2}}},
        {"the pole of the scale", 0.5f, {{kParamScaleX, 50}, {kParamUniformScale, 1}}},
    };
    for (const Case& c : cases) {
        const World map = RedMap(24, 12, 32, c.map);
        ResetControls();
        Set(kParamChannel, kChannelRed);
        Set(kParamTranslateX, 10);
        for (const auto& control : c.controls) Set(control.first, control.second);
        for (int view : {kViewResult, kViewMap}) {
            SCOPED_TRACE(std::string(c.what) + (view == kViewMap ? ", map view" : ""));
            Set(kParamView, view);
            const World out = Render(input, &map);
            int non_finite = 0;
            for (A_long y = 0; y < 12; ++y) {
                for (A_long x = 0; x < 24; ++x) {
                    for (int ch = 0; ch < 4; ++ch) non_finite += !std::isfinite(At(out, x, y, ch));
                }
            }
            EXPECT_EQ(non_finite, 0);
        }
    }
}

TEST_F(RenderTest, NoGLObjectOutlivesAFrame) {
    const World input = Picture(32, 16, 8);
    const World map = RedMap(24, 12, 8, 0.5f);
    Set(kParamTranslateX, 1);  // drawn, not copied
    Render(input, &map);       // the thread's context and programs now exist, and stay current
    const vexo_test::GLObjectCounts before = vexo_test::CountLiveGLObjects();
    const int kept_before = KeptGLObjects(local_render_data->keptTargets);
    Set(kParamMapSoftness, 3);
    Set(kParamAntiAliasing, kAntiAliasing4x);
    for (int i = 0; i < 3; ++i) Render(input, &map);
    const vexo_test::GLObjectCounts after = vexo_test::CountLiveGLObjects();
    // Beside the programs, only the last frame's targets, which the thread keeps for its next.
    const KeptTargets& kept = local_render_data->keptTargets;
    // Beside the programs (a supersampled frame may build a displacement program of its own).
    EXPECT_EQ(before.total() - before.programs, kept_before) << vexo_test::Describe(before);
    EXPECT_EQ(after.total() - after.programs, KeptGLObjects(kept)) << vexo_test::Describe(after);
    EXPECT_GT(KeptGLObjects(kept), kept_before);  // the 4x frame's targets took the 1x ones' place
    EXPECT_LE(KeptBytes(kept), kKeptTargetBudget);
    // The six and, at most, what the thread's record keeps: the displacement programs made for
    // the settings it has rendered, and the blur programs its softnesses have needed.
    EXPECT_GE(before.programs, 6 + 1);
    EXPECT_LE(before.programs, 6 + kMaxKeptPrograms);
}

// One budget for every thread's kept targets: a host rendering on many threads holds no more
// idle than one, and a record that goes takes its share with it.
TEST_F(RenderTest, KeptTargetsOfAllThreadsShareOneBudget) {
    const World input = Picture(64, 64, 32);
    const uint64_t before = KeptBytesEverywhere();
    uint64_t alone = 0;
    std::thread([&] {
        Render(input);
        alone = KeptBytesEverywhere() - before;
    }).join();
    EXPECT_EQ(KeptBytesEverywhere(), before);
    ASSERT_GT(alone, 0u);
    SetKeptTargetBudgetForTesting(before + alone * 3 / 2);
    std::mutex mutex;
    std::condition_variable changed;
    int rendered = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t) {
        threads.emplace_back([&] {
            World out = MakeWorld(64, 64, 32);
            std::vector<std::string> problems;
            FrameOptions options;
            options.depth = 32;
            EXPECT_EQ(RenderFrame(instance_.get(), FrameLayers{&input, nullptr}, options, &out,
                                  &problems),
                      PF_Err_NONE);
            std::unique_lock<std::mutex> lock(mutex);
            ++rendered;
            changed.notify_all();
            changed.wait(lock, [&] { return rendered < 0; });
        });
    }
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return rendered == 3; });
        EXPECT_LE(KeptBytesEverywhere() - before, alone * 3 / 2);
        EXPECT_GE(KeptBytesEverywhere() - before, alone);
        rendered = -1;
        changed.notify_all();
    }
    for (std::thread& t : threads) t.join();
    SetKeptTargetBudgetForTesting(0);
    EXPECT_EQ(KeptBytesEverywhere(), before);
}

TEST_F(RenderTest, ThreadsRenderTheSameFramesAlike) {
    const World input = Picture(48, 32, 32);
    const World map = Fill(48, 32, 32, [](A_long x, A_long y, float* p) {
        p[0] = 1.0f;
        p[1] = p[2] = p[3] = 0.5f + 0.5f * std::sin(0.4f * float(x) + 0.2f * float(y));
    });
    Set(kParamTranslateX, 7);
    Set(kParamRotate, 12);
    Set(kParamMapSoftness, 2);
    const World reference = Render(input, &map);

    std::vector<World> outputs(8, MakeWorld(48, 32, 32));
    std::vector<PF_Err> errors(8, PF_Err_NONE);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int f = t; f < 8; f += 4) {
                std::vector<std::string> problems;
                FrameOptions options;
                options.depth = 32;
                errors[f] = RenderFrame(instance_.get(), FrameLayers{&input, &map}, options,
                                        &outputs[f], &problems);
            }
        });
    }
    for (std::thread& t : threads) t.join();
    for (int f = 0; f < 8; ++f) {
        EXPECT_EQ(errors[f], PF_Err_NONE);
        EXPECT_EQ(MaxDifference(outputs[f], reference), 0.0f) << "frame " << f;
    }
}

// --- Failures the render must report rather than return a black frame as a success.

std::vector<std::string> g_messages;
void Collect(const std::string& text) { g_messages.push_back(text); }

class RenderFailureTest : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        g_messages.clear();
        SetMessageObserver(Collect);
    }
    void TearDown() override {
        SetMessageObserver(nullptr);
        RenderTest::TearDown();
    }
    // A frame that failed leaves the output as the host's fill left it: transparent black.
    static bool Cleared(const World& w) {
        for (uint8_t byte : w.storage) {
            if (byte) return false;
        }
        return true;
    }
    // Frames that still copy their input, drawn by GL: a copy made without it would meet none of
    // the faults these tests cause.
    void ThroughGL() { Set(kParamMapGamma, 2); }
    World Poisoned(A_long w, A_long h, int depth) {
        World out = MakeWorld(w, h, depth);
        std::fill(out.storage.begin(), out.storage.end(), uint8_t(0x7F));
        return out;
    }
};

GLint MaxTextureSize() {
    GLint max_size = 0;
    vexo_test::ScopedGLContext gl;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
    return max_size;
}

// Only what a frame reads must fit the context. Layers beyond the texture limit render the parts
// whose reach fits, asking the host for no more; a reach that is itself too large fails the
// frame, naming the limit: no shortage of memory that freeing would give back.
TEST_F(RenderFailureTest, OnlyAReachBeyondTheContextsLimitFailsTheFrame) {
    const A_long limit = MaxTextureSize(), beyond = limit + 116;
    const PF_LRect region{0, 100, 8, 140};
    Set(kParamChannel, kChannelRed);
    Set(kParamTranslateY, 1);  // a little over a hundred rows at a map value of 1
    for (int depth : {8, 32}) {
        SCOPED_TRACE(std::to_string(depth) + " bits");
        g_messages.clear();
        // A tall input: at 32 bits a map value may be anything, and the input is read whole.
        const World tall = Picture(8, beyond, depth);
        std::vector<std::pair<PF_ParamIndex, PF_LRect>> checkouts;
        FrameOptions options;
        options.region = region;
        options.checkouts = &checkouts;
        World out;
        const PF_Err err = Render(tall, nullptr, &out, options);
        if (depth == 8) {
            EXPECT_EQ(err, PF_Err_NONE);
            EXPECT_EQ(out.def.height, 40);
            ASSERT_EQ(checkouts.size(), 3u);  // where the input lies, its part, the map's
            EXPECT_LE(checkouts[1].second.bottom - checkouts[1].second.top, 40 + 2 * 128);
        } else {
            EXPECT_EQ(err, PF_Err_OUT_OF_MEMORY);
            ASSERT_EQ(g_messages.size(), 1u);
            EXPECT_EQ(g_messages[0], "the part of the input this frame reads (8 x " +
                                         std::to_string(beyond) + " pixels) is larger than " +
                                         "this GPU's " + std::to_string(limit) +
                                         "-pixel texture limit");
        }

        // A wide map layer, of which only the region's reach is asked for and read, at either
        // depth, beside a small input.
        const World input = Picture(64, 48, depth);
        const World wide = RedMap(beyond, 8, depth, 0.5f);
        checkouts.clear();
        options.region = PF_LRect{4, 0, 20, 6};
        ASSERT_EQ(Render(input, &wide, &out, options), PF_Err_NONE);
        ASSERT_EQ(checkouts.size(), 3u);
        EXPECT_EQ(checkouts[2].first, kParamMapLayer);
        EXPECT_LE(checkouts[2].second.right - checkouts[2].second.left, 16 + 2 * 8);
    }

    // No target holds a frame's samples: one whose supersampled width is beyond the limit renders.
    const World wide_input = Picture(limit / 4 + 1, 2, 8);
    Set(kParamAntiAliasing, kAntiAliasing4x);
    World out;
    EXPECT_EQ(Render(wide_input, nullptr, &out), PF_Err_NONE);
}

TEST_F(RenderFailureTest, MemoryTheDriverRefusesFailsOnlyThatFrame) {
    // An input read whole, within the context's size limits but 4 GiB of floats: more than
    // llvmpipe gives one texture. The host's gigabyte comes from calloc untouched, so it costs
    // no memory unless read.
    World big = MakeWorld(0, 0, 8);
    big.def.width = 16384;
    big.def.height = 16384;
    big.def.rowbytes = big.def.width * 4;
    std::unique_ptr<void, decltype(&std::free)> pixels(
        std::calloc(size_t(big.def.rowbytes), size_t(big.def.height)), &std::free);
    ASSERT_NE(pixels, nullptr);
    big.def.data = static_cast<PF_PixelPtr>(pixels.get());
    FrameOptions corner;
    corner.region = PF_LRect{0, 0, 16, 8};
    World out = Poisoned(16, 8, 8);
    Set(kParamMapSoftness, 100);  // the blur's reach, and no more, is read
    EXPECT_EQ(Render(big, nullptr, &out, corner), PF_Err_NONE);
    Set(kParamMapSoftness, 0);
    Set(kParamScaleX, 50);  // the scale's pole lies among the greys: the input is read whole
    EXPECT_EQ(Render(big, nullptr, &out, corner), PF_Err_OUT_OF_MEMORY);
    EXPECT_TRUE(Cleared(out));
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0], "not enough GPU memory for the input (16384 x 16384 pixels)");

    // The next frame starts with a clean error state: nothing is reported against it.
    ResetControls();
    const World small = Picture(16, 8, 8);
    World small_out = MakeWorld(16, 8, 8);
    std::string printed = vexo_test::CaptureStdout(
        [&] { EXPECT_EQ(Render(small, nullptr, &small_out), PF_Err_NONE); });
    EXPECT_EQ(printed, "");
    EXPECT_EQ(MaxDifference(small_out, small), 0.0f);
}

TEST_F(RenderFailureTest, ALostContextFailsItsFrameAndTheNextOneGetsAFreshContext) {
    ThroughGL();
    const World input = Picture(16, 8, 8);
    ASSERT_EQ(MaxDifference(Render(input), input), 0.0f);
    ASSERT_TRUE(local_render_data && local_render_data->context);

    SimulateGLContextLossForTesting();
    World out = Poisoned(16, 8, 8);
    EXPECT_EQ(Render(input, nullptr, &out), PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(Cleared(out));
    ASSERT_EQ(g_messages.size(), 1u);
    EXPECT_EQ(g_messages[0],
              "error: GL context lost, a new one is made on the next frame err 512 err2 0");
    EXPECT_EQ(local_render_data.get(), nullptr);  // the lost context is gone

    EXPECT_EQ(MaxDifference(Render(input), input), 0.0f);
    ASSERT_TRUE(local_render_data && local_render_data->context);
    const vexo_test::GLObjectCounts counts = vexo_test::CountLiveGLObjects();
    EXPECT_EQ(counts.programs, 6 + 1);  // the six and the one frame's displacement variant
    EXPECT_EQ(counts.total(), counts.programs + KeptGLObjects(local_render_data->keptTargets))
        << vexo_test::Describe(counts);
}

TEST_F(RenderFailureTest, AContextThatCannotBeMadeIsTriedAgainOnLaterFramesNeverGivenUp) {
    ThroughGL();
    const World input = Picture(8, 8, 8);
    World out = Poisoned(8, 8, 8);
    std::vector<PF_Err> errors;
    std::vector<std::string> last_messages;
    auto frames = [&](int count) {
        for (int i = 0; i < count; ++i) {
            errors.push_back(Render(input, nullptr, &out));
            last_messages.push_back(g_messages.empty() ? "" : g_messages.back());
        }
    };
    // Made on a later frame, once the platform can.
    std::thread([&] {
        RequestContextVersionForTesting(9, 9);
        frames(kContextCreationTries - 1);
        RequestContextVersionForTesting(0, 0);
        frames(1);
    }).join();
    ASSERT_EQ(errors.size(), size_t(kContextCreationTries));
    EXPECT_EQ(errors.back(), PF_Err_NONE);
    EXPECT_EQ(MaxDifference(out, input), 0.0f);

    // After the first tries, frames fail at once with the reason, and one in so many tries
    // again: a driver that comes back (after a reset) is found, however long it was away.
    errors.clear();
    last_messages.clear();
    std::thread([&] {
        RequestContextVersionForTesting(9, 9);
        frames(kContextCreationTries);
        RequestContextVersionForTesting(0, 0);
        const std::string printed =
            vexo_test::CaptureStdout([&] { frames(kFramesPerContextRetry - 1); });
        EXPECT_EQ(printed, "");  // no creation, so no report from the platform
        frames(1);
    }).join();
    ASSERT_EQ(errors.size(), size_t(kContextCreationTries + kFramesPerContextRetry));
    for (size_t i = 0; i + 1 < errors.size(); ++i) {
        EXPECT_EQ(errors[i], PF_Err_INTERNAL_STRUCT_DAMAGED) << i;
        EXPECT_EQ(last_messages[i],
                  i + 1 < size_t(kContextCreationTries)
                      ? "error on local_render_data.get() err 0 err2 0"
                      : "error creating GL context, trying again now and then err 512 err2 30")
            << i;
    }
    EXPECT_EQ(errors.back(), PF_Err_NONE);
    EXPECT_EQ(MaxDifference(out, input), 0.0f);
}

TEST_F(RenderFailureTest, BuffersTheTransfersCannotAddressAreRefused) {
    const World input = Picture(10, 4, 8);
    for (int depth : {16, 0, 64}) {
        World out = Poisoned(10, 4, 8);
        FrameOptions options;
        std::vector<std::string> problems;
        options.depth = depth;
        EXPECT_EQ(
            RenderFrame(instance_.get(), FrameLayers{&input, nullptr}, options, &out, &problems),
            PF_Err_BAD_CALLBACK_PARAM)
            << depth;
    }
    World ragged = Picture(10, 4, 8);
    ragged.def.rowbytes = 10 * 4 + 2;  // not whole pixels
    World out = Poisoned(10, 4, 8);
    EXPECT_EQ(Render(ragged, nullptr, &out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_TRUE(Cleared(out));
    World narrow = Picture(10, 4, 8);
    narrow.def.rowbytes = 9 * 4;  // shorter than a row
    EXPECT_EQ(Render(narrow, nullptr, &out), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_EQ(g_messages.back(), "error on buffer format err 516 err2 8");
}

TEST_F(RenderFailureTest, OutputOfAnotherSizeGetsTheOverlap) {
    const World input = Picture(20, 10, 8);
    World bigger = Poisoned(30, 6, 8);
    ASSERT_EQ(Render(input, nullptr, &bigger), PF_Err_NONE);
    for (A_long y = 0; y < 6; ++y) {
        for (A_long x = 0; x < 30; ++x) {
            for (int c = 0; c < 4; ++c) {
                const float expected = x < 20 ? At(input, x, y, c) : 0.0f;
                ASSERT_EQ(At(bigger, x, y, c), expected) << x << "," << y;
            }
        }
    }
}

TEST_F(RenderFailureTest, CheckoutFailuresAreReportedWithTheirCodes) {
    const World input = Picture(8, 8, 8);
    World out = Poisoned(8, 8, 8);
    FailCall("checkout_layer_pixels", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(Render(input, nullptr, &out), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(Cleared(out));  // no output was checked out to clear
    EXPECT_EQ(g_messages.size(), 0u);

    FailCall("checkout_output", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(Render(input, nullptr, &out), PF_Err_OUT_OF_MEMORY);

    g_messages.clear();
    // The pre-render's, which only asks for the whole layers then, and the render's.
    FailCall("checkout_param", PF_Err_INVALID_INDEX, 2);
    EXPECT_EQ(Render(input, nullptr, &out), PF_Err_INVALID_INDEX);
    EXPECT_TRUE(Cleared(out));
    ASSERT_EQ(g_messages.size(), 2u);
    EXPECT_EQ(g_messages[0].rfind("error on param checkout err 513 err2 ", 0), 0u);
    EXPECT_EQ(g_messages[1], "error on param initialisation err 513 err2 0");
}

TEST_F(RenderFailureTest, AThreadWithoutAContextFailsItsFrames) {
    ThroughGL();
    const World input = Picture(8, 8, 8);
    World out = Poisoned(8, 8, 8);
    PF_Err first = PF_Err_NONE, second = PF_Err_NONE;
    std::thread([&] {
        RequestContextVersionForTesting(9, 9);  // this thread's context cannot be made
        first = Render(input, nullptr, &out);
        second = Render(input, nullptr, &out);
        RequestContextVersionForTesting(0, 0);
    }).join();
    EXPECT_EQ(first, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(second, PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_TRUE(Cleared(out));
    ASSERT_FALSE(g_messages.empty());
    EXPECT_EQ(g_messages.back(), "error on local_render_data.get() err 0 err2 0");
}

// What the driver rejects it rejects on every try: the thread fails every frame and builds
// nothing again. A shortage or a lost context can pass: that frame fails, and the next one builds
// everything afresh and renders. Each row's fault strikes the first frame only.
TEST_F(RenderFailureTest, ProgramsThatFailToBuildAreBuiltAgainOnlyWhenTheFailureCanPass) {
    ThroughGL();
    const World input = Picture(8, 8, 8);
    const char* const no_compile = "#version 330 core\nout vec4 c; void main() { c = nothing; }\n";
    const char* const no_link =
        "#version 330 core\nout vec4 c; vec4 f(); void main() { c = f(); }\n";
    const std::string rejected = "error building GL programs err 512 err2 0";
    const std::string again =
        "error building GL programs, built again on the next frame err 512 err2 0";
    struct Row {
        const char* what;
        const char* displace;  // the displacement's fragment text, null for the shipped one
        void (*fault)();       // on the render thread, before its first frame
        const char* failing;   // the program reported
        bool passes;
    } rows[] = {
        {"a stage that does not compile", no_compile, nullptr, "displace", false},
        {"a stage that compiles but cannot be linked", no_link, nullptr, "displace", false},
        {"memory short while building", nullptr, SimulateGLOutOfMemoryForTesting, "swizzleIn",
         true},
        {"the context lost while building", no_compile, SimulateGLContextLossForTesting, "displace",
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        g_messages.clear();
        std::vector<World> outs;
        for (int i = 0; i < 3; ++i) outs.push_back(Poisoned(8, 8, 8));
        std::vector<PF_Err> errors;
        std::vector<uint64_t> builds;
        std::string printed;
        bool released = false;
        ReplaceFragmentShaderForTesting(1, row.displace);
        std::thread([&] {
            if (row.fault) row.fault();
            printed = vexo_test::CaptureStdout(
                [&] { errors.push_back(Render(input, nullptr, &outs[0])); });
            released = !local_render_data;
            ReplaceFragmentShaderForTesting(1, nullptr);
            builds.push_back(ProgramBuildsOnThisThread());
            for (int i = 1; i < 3; ++i) {
                errors.push_back(Render(input, nullptr, &outs[i]));
                builds.push_back(ProgramBuildsOnThisThread());
            }
        }).join();
        ReplaceFragmentShaderForTesting(1, nullptr);
        EXPECT_NE(printed.find(std::string("VEXO: GL programs that failed to build: ") +
                               row.failing + "\n"),
                  std::string::npos)
            << printed;
        EXPECT_EQ(errors[0], PF_Err_INTERNAL_STRUCT_DAMAGED);
        EXPECT_TRUE(Cleared(outs[0]));
        EXPECT_EQ(released, row.passes);
        // Whatever happens, the third frame compiles nothing.
        EXPECT_EQ(builds[2], builds[1]);
        if (row.passes) {
            EXPECT_EQ(g_messages, std::vector<std::string>{again});
            EXPECT_GT(builds[1], builds[0]);
            for (int i = 1; i < 3; ++i) {
                EXPECT_EQ(errors[i], PF_Err_NONE) << i;
                EXPECT_EQ(MaxDifference(outs[i], input), 0.0f) << i;
            }
        } else {
            EXPECT_EQ(g_messages, std::vector<std::string>(3, rejected));
            EXPECT_EQ(builds[1], builds[0]);
            EXPECT_EQ(errors, std::vector<PF_Err>(3, PF_Err_INTERNAL_STRUCT_DAMAGED));
            for (const World& out : outs) EXPECT_TRUE(Cleared(out));
        }
    }
    // Threads that build the shipped texts render again.
    std::thread([&] { EXPECT_EQ(MaxDifference(Render(input), input), 0.0f); }).join();
}

}  // namespace
