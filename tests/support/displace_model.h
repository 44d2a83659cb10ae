// A CPU model of what the effect's programs compute: GL's bilinear lookup, the displacement's
// map value and sample position, the cubic B-spline upsampling and the box reduction. Tests
// predict pictures with it and compare what the GPU drew.
#pragma once
#include <GL/glew.h>

#include <cmath>
#include <vector>

#include "gl/binding.h"
#include "params/param_table.h"

namespace vexo_model {

// Each edge behaviour and the wrap mode its textures are sampled with.
struct EdgeWrap {
    int edge;
    int32_t wrap;
};
constexpr EdgeWrap kEdgeWraps[] = {{kEdgeNone, GL_CLAMP_TO_BORDER},
                                   {kEdgeRepeat, GL_REPEAT},
                                   {kEdgeMirrorRepeat, GL_MIRRORED_REPEAT},
                                   {kEdgeEdgeRepeat, GL_CLAMP_TO_EDGE}};

// The shaders' number for an edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels.
constexpr int WrapIndex(int32_t wrap) {
    return wrap == GL_REPEAT            ? 1
           : wrap == GL_MIRRORED_REPEAT ? 2
           : wrap == GL_CLAMP_TO_EDGE   ? 3
                                        : 0;
}

struct RGBA {
    float c[4];
};

// A float image with GL's bilinear lookup, for predicting what a shader samples.
struct Image {
    int w = 0, h = 0;
    GLint wrap = GL_CLAMP_TO_EDGE;
    std::vector<float> rgba;

    Image(int width, int height, GLint wrapMode = GL_CLAMP_TO_EDGE)
        : w(width), h(height), wrap(wrapMode), rgba(static_cast<size_t>(width) * height * 4) {}
    float* at(int x, int y) { return &rgba[(static_cast<size_t>(y) * w + x) * 4]; }

    // Texel (x, y) after wrapping; null for the (transparent black) border.
    const float* texel(int x, int y) const {
        auto resolve = [this](int i, int n) {
            switch (wrap) {
                case GL_REPEAT:
                    return ((i % n) + n) % n;
                case GL_MIRRORED_REPEAT: {
                    const int k = ((i % (2 * n)) + 2 * n) % (2 * n);
                    return k < n ? k : 2 * n - 1 - k;
                }
                case GL_CLAMP_TO_BORDER:
                    return (i < 0 || i >= n) ? -1 : i;
                default:
                    return i < 0 ? 0 : (i >= n ? n - 1 : i);
            }
        };
        const int rx = resolve(x, w), ry = resolve(y, h);
        if (rx < 0 || ry < 0) return nullptr;
        return &rgba[(static_cast<size_t>(ry) * w + rx) * 4];
    }

    RGBA sample(double u, double v) const {
        // Placed to 1/512 of a texel, as the passes place a filtered read.
        const auto placed = [](double t) { return std::floor(t * 512.0 + 0.5) / 512.0; };
        const double x = placed(u * w - 0.5), y = placed(v * h - 0.5);
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        const double ax = x - x0, ay = y - y0;
        RGBA out{};
        const double weights[4] = {(1 - ax) * (1 - ay), ax * (1 - ay), (1 - ax) * ay, ax * ay};
        const int dx[4] = {0, 1, 0, 1}, dy[4] = {0, 0, 1, 1};
        for (int k = 0; k < 4; ++k) {
            const float* t = texel(x0 + dx[k], y0 + dy[k]);
            if (!t) continue;
            for (int c = 0; c < 4; ++c) out.c[c] += static_cast<float>(weights[k] * t[c]);
        }
        return out;
    }
};

struct DisplaceSettings {
    int usingAuxTex = 1, srcL = 1, invert = 0, easingL = 1, usingCA = 0, dstL = 2;
    float offsetF = 0, gammaF = 1, translateX = 0, translateY = 0, rot = 0, scaleX = 1, scaleY = 1,
          anchorX = 0.5f, anchorY = 0.5f, redMult = 1, greenMult = 1, blueMult = 1;
    Vec2f resV = {1, 1};
};

// What the passes set to draw a whole w x h grid from textures that hold all of it; entries
// already present stay.
void AddWholeGridUniforms(UniformMap* uniforms, float w, float h);
UniformMap DisplaceUniforms(const DisplaceSettings& s, GLuint inTex, GLuint mapTex);

// Hue, saturation, value as the shader derives them.
void Rgb2Hsv(const float c[3], float out[3]);

float Ease(int mode, float t);

// The grey value for map sample m (red, green, blue, alpha).
float Grey(const DisplaceSettings& s, const float m[4]);

// Where the shader samples the input for fragment (u, v) at map value g.
void ModifyCoords(const DisplaceSettings& s, double u, double v, double g, double out[2]);

// What the displacement writes for fragment (u, v), in the host's order (alpha, red, green,
// blue): `in` sampled where the map sample `m` sends each channel, or the map view.
RGBA Displace(const DisplaceSettings& s, const Image& in, const float m[4], double u, double v);

// The cubic B-spline of `in` at (u, v), which the upsampling computes from four bilinear fetches.
RGBA BSpline(const Image& in, double u, double v);

// The reduction of output pixel (x, y) at factor n: the mean of the n x n samples within it.
RGBA Oversampled(const Image& super, int n, int x, int y);

}  // namespace vexo_model
