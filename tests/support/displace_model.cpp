#include "tests/support/displace_model.h"

#include <algorithm>

namespace vexo_model {

void AddWholeGridUniforms(UniformMap* u, float w, float h) {
    for (const char* origin : {"inOrigin", "mapOrigin", "srcOrigin", "gridOrigin"}) {
        u->emplace(origin, IVEC2({0, 0}));
    }
    u->emplace("inPlace", VEC4({1.0f, 1.0f, 0.0f, 0.0f}));
    u->emplace("sampleOrigin", IVEC2({0, 0}));
    u->emplace("gridSize", VEC2({w, h}));
    u->emplace("pixelStretch", VEC(0.0f));  // square pixels
    u->emplace("wrapL", IVEC(0));
    u->emplace("perPixel", IVEC(1));
    u->emplace("inBytes", IVEC(0));
    u->emplace("mapFetchL", IVEC(0));
    u->emplace("mapCells", VEC(1.0f));
    u->emplace("channelL", IVEC(0));
}

UniformMap DisplaceUniforms(const DisplaceSettings& s, GLuint inTex, GLuint mapTex) {
    return {{"inTex", TEXRECT(inTex)},
            {"displaceTex", TEXRECT(mapTex)},
            {"usingAuxTex", IVEC(s.usingAuxTex)},
            {"srcL", IVEC(s.srcL)},
            {"invert", IVEC(s.invert)},
            {"offsetF", VEC(s.offsetF)},
            {"easingL", IVEC(s.easingL)},
            {"gammaF", VEC(s.gammaF)},
            {"translateX", VEC(s.translateX)},
            {"translateY", VEC(s.translateY)},
            {"rot", VEC(s.rot)},
            {"scaleX", VEC(s.scaleX)},
            {"scaleY", VEC(s.scaleY)},
            {"anchorX", VEC(s.anchorX)},
            {"anchorY", VEC(s.anchorY)},
            {"resV", VEC2(s.resV)},
            {"usingCA", IVEC(s.usingCA)},
            {"redMult", VEC(s.redMult)},
            {"greenMult", VEC(s.greenMult)},
            {"blueMult", VEC(s.blueMult)},
            {"dstL", IVEC(s.dstL)}};
}

void Rgb2Hsv(const float c[3], float out[3]) {
    const float K[4] = {0.0f, -1.0f / 3.0f, 2.0f / 3.0f, -1.0f};
    const float e = 1.0e-10f;
    auto mix4 = [](const float a[4], const float b[4], float t, float r[4]) {
        for (int k = 0; k < 4; ++k) r[k] = a[k] * (1 - t) + b[k] * t;
    };
    float p[4], q[4];
    const float pa[4] = {c[2], c[1], K[3], K[2]}, pb[4] = {c[1], c[2], K[0], K[1]};
    mix4(pa, pb, c[1] >= c[2] ? 1.0f : 0.0f, p);
    const float qa[4] = {p[0], p[1], p[3], c[0]}, qb[4] = {c[0], p[1], p[2], p[0]};
    mix4(qa, qb, c[0] >= p[0] ? 1.0f : 0.0f, q);
    const float d = q[0] - std::min(q[3], q[1]);
    out[0] = std::fabs(q[2] + (q[3] - q[1]) / (6.0f * d + e));
    out[1] = d / (q[0] + e);
    out[2] = q[0];
}

float Ease(int mode, float t) {
    if (mode == 3) return t == 0.0f ? 0.0f : std::exp2(10.0f * (t - 1.0f));
    if (mode == 4) return t == 1.0f ? 1.0f : 1.0f - std::exp2(-10.0f * t);
    if (t == 0.0f) return 0.0f;
    if (t == 1.0f) return 1.0f;
    const float u = 2.0f * t;
    if (u < 1.0f) return 0.5f * std::exp2(10.0f * (u - 1.0f));
    return 0.5f * (2.0f - std::exp2(-10.0f * (u - 1.0f)));
}

float Grey(const DisplaceSettings& s, const float m[4]) {
    float grey = 0.0f;
    float hsv[3];
    Rgb2Hsv(m, hsv);
    switch (s.srcL) {
        case 1:
        case 2:
        case 3:
        case 4:
            grey = m[s.srcL - 1];
            break;
        case 6:
            grey = hsv[0];
            break;
        case 7:
            grey = hsv[1];
            break;
        case 8:
            grey = (m[0] + m[1] + m[2]) * 0.33333333f;
            break;
        default:
            break;
    }
    if (s.invert == 1) grey = 1.0f - grey;
    grey += s.offsetF;
    if (s.easingL > 1) grey = Ease(s.easingL, grey);
    if (s.gammaF != 1.0f) grey = std::pow(grey, s.gammaF);
    if (grey == 0.0f) grey = 0.00001f;
    return grey;
}

void ModifyCoords(const DisplaceSettings& s, double u, double v, double g, double out[2]) {
    // At a scale of 1 the share is 1 for every g, 0 included (where the quotient is 0/0).
    auto share = [g](double scale) { return scale == 1.0 ? 1.0 : g * (1.0 / (g - (1.0 - scale))); };
    const double rotF = g * (s.rot * 0.0174533);
    const double sx = share(s.scaleX), sy = share(s.scaleY);
    const double sn = std::sin(rotF), cs = std::cos(rotF);
    const double ax = static_cast<double>(s.resV.y) / s.resV.x;
    double px = (u - s.anchorX) / ax, py = v - s.anchorY;
    const double rx = px * cs + py * sn, ry = -px * sn + py * cs;
    px = rx * ax + s.anchorX;
    py = ry + s.anchorY;
    const double qx = px - g * s.translateX, qy = py - g * s.translateY;
    out[0] = sx * (qx - s.anchorX) + s.anchorX;
    out[1] = sy * (qy - s.anchorY) + s.anchorY;
}

RGBA Displace(const DisplaceSettings& s, const Image& in, const float m[4], double u, double v) {
    const double grey = Grey(s, m);
    const bool ca = s.usingCA == 1;
    const double greys[3] = {ca ? grey * s.redMult : grey, ca ? grey * s.greenMult : grey,
                             ca ? grey * s.blueMult : grey};
    if (s.dstL == 1) {
        const float shown = static_cast<float>(greys[1]);
        return RGBA{{1.0f, shown, shown, shown}};
    }
    RGBA byChannel[3];
    for (int k = 0; k < 3; ++k) {
        double at[2];
        ModifyCoords(s, u, v, greys[k], at);
        byChannel[k] = in.sample(at[0], at[1]);
    }
    // Red from the red displacement, blue from the blue one, the rest from green.
    return RGBA{{byChannel[1].c[3], byChannel[0].c[0], byChannel[1].c[1], byChannel[2].c[2]}};
}

RGBA BSpline(const Image& in, double u, double v) {
    auto weights = [](double f, double w[4]) {
        w[0] = (1 - f) * (1 - f) * (1 - f) / 6;
        w[1] = (3 * f * f * f - 6 * f * f + 4) / 6;
        w[2] = (-3 * f * f * f + 3 * f * f + 3 * f + 1) / 6;
        w[3] = f * f * f / 6;
    };
    const double x = u * in.w - 0.5, y = v * in.h - 0.5;
    const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
    double wx[4], wy[4];
    weights(x - x0, wx);
    weights(y - y0, wy);
    RGBA out{};
    for (int j = 0; j < 4; ++j)
        for (int i = 0; i < 4; ++i) {
            const float* t = in.texel(x0 - 1 + i, y0 - 1 + j);
            if (!t) continue;
            for (int c = 0; c < 4; ++c) out.c[c] += static_cast<float>(wx[i] * wy[j] * t[c]);
        }
    return out;
}

RGBA Oversampled(const Image& super, int n, int x, int y) {
    RGBA sum{};
    for (int j = 0; j < n; ++j) {
        for (int i = 0; i < n; ++i) {
            const float* s = &super.rgba[(size_t(n * y + j) * super.w + size_t(n * x + i)) * 4];
            for (int c = 0; c < 4; ++c) sum.c[c] += s[c] / (n * n);
        }
    }
    return sum;
}

}  // namespace vexo_model
