#include "render/reach.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>

#include "params/param_table.h"

namespace {

// Beyond the filter footprints (a bilinear fetch reads a texel either side, the upsampling's
// B-spline two), a margin for the GPU's single-precision arithmetic.
constexpr int64_t kSamplingMargin = 4;
constexpr double kRelativeMargin = 1e-4;
// Far beyond any layer, and still a whole number an int64_t holds.
constexpr double kFar = double(int64_t(1) << 40);
// The smallest softness radii blurred on cells of 2 and of 4 pixels.
constexpr double kSoftnessCells2Radius = 12.0;
constexpr double kSoftnessCells4Radius = 32.0;

struct Interval {
    double lo, hi;
};

Interval Hull(Interval a, double v) { return {std::min(a.lo, v), std::max(a.hi, v)}; }

Interval Product(Interval a, Interval b) {
    const double c[] = {a.lo * b.lo, a.lo * b.hi, a.hi * b.lo, a.hi * b.hi};
    return {*std::min_element(c, c + 4), *std::max_element(c, c + 4)};
}

bool Finite(Interval a) { return std::isfinite(a.lo) && std::isfinite(a.hi); }

// The easing curves, as the displacement program has them: each rises monotonically, apart from
// the values it pins at 0 and 1.
double Ease(int mode, double t) {
    if (mode == kEasingIn) return t == 0.0 ? 0.0 : std::exp2(10.0 * (t - 1.0));
    if (mode == kEasingOut) return t == 1.0 ? 1.0 : 1.0 - std::exp2(-10.0 * t);
    if (t == 0.0) return 0.0;
    if (t == 1.0) return 1.0;
    const double u = 2.0 * t;
    if (u < 1.0) return 0.5 * std::exp2(10.0 * (u - 1.0));
    return 0.5 * (2.0 - std::exp2(-10.0 * (u - 1.0)));
}

// Every value the map's grey can take once the map is reduced, inverted, offset, eased and raised
// to the gamma: at 8 bits every map value lies in 0 to 1, and nothing is clamped after that.
bool GreyRange(const myParams& p, Interval* grey) {
    if (p.bitDepth != 8) return false;
    Interval g{0.0, 1.0};  // every channel choice, hue and saturation included
    g = {g.lo + p.mapOffset, g.hi + p.mapOffset};
    if (!Finite(g)) return false;
    const int easing = int(p.easingMode);
    if (easing > 1) {
        Interval e{Ease(easing, g.lo), Ease(easing, g.hi)};
        for (double pinned : {0.0, 1.0}) {
            if (g.lo <= pinned && pinned <= g.hi) e = Hull(e, Ease(easing, pinned));
        }
        g = e;
    }
    if (p.mapGamma != 1.0) {
        // A negative base, or zero under a gamma of zero or less, is no number or no finite one.
        if (!std::isfinite(p.mapGamma) || g.lo < 0.0 || (g.lo == 0.0 && p.mapGamma <= 0.0)) {
            return false;
        }
        const double a = std::pow(g.lo, p.mapGamma), b = std::pow(g.hi, p.mapGamma);
        g = {std::min(a, b), std::max(a, b)};
    }
    // The program moves a grey of exactly 0 off the scale's pole.
    if (g.lo <= 0.0 && 0.0 <= g.hi) g = Hull(g, 0.00001);
    *grey = g;
    return Finite(g);
}

// The share of a scale `s` a grey applies, over a range of greys; false where the pole lies in
// it (or close enough for single precision to reach it).
bool ScaleShare(Interval g, double s, Interval* share) {
    if (!std::isfinite(s)) return false;
    if (s == 1.0) {
        *share = {1.0, 1.0};
        return true;
    }
    const double pole = 1.0 - s;
    const double slack = 1e-6 * std::max(1.0, std::abs(pole));
    if (g.lo - slack <= pole && pole <= g.hi + slack) return false;
    const double a = g.lo / (g.lo - pole), b = g.hi / (g.hi - pole);
    *share = {std::min(a, b), std::max(a, b)};
    return Finite(*share);
}

// Where, in texture coordinates, the points of `box` go for every grey of `g`: each step of the
// program's coordinate change bounded on its own, the greys taken independently.
bool Reach(const myParams& p, Interval g, Interval u, Interval v, Interval* ru, Interval* rv) {
    const double ax = p.anchorU, ay = p.anchorV;
    // A texture coordinate's height over its width as seen, pixels widened to square.
    const double aspect = double(p.frameSize.y) / (double(p.frameSize.x) * p.pixelAspect);
    // Turns in square pixels about the anchor, by every angle in the range: the bounding box of
    // the corners turned by closely spaced angles, grown by how far an arc strays from them.
    const Interval angle = Product(g, {p.rotationDeg * 0.0174533, p.rotationDeg * 0.0174533});
    if (!Finite(angle)) return false;
    constexpr int kSteps = 64;
    const double step = (angle.hi - angle.lo) / kSteps;
    Interval x{HUGE_VAL, -HUGE_VAL}, y{HUGE_VAL, -HUGE_VAL};
    double radius = 0.0;
    for (double cu : {u.lo, u.hi}) {
        for (double cv : {v.lo, v.hi}) {
            const double px = (cu - ax) / aspect, py = cv - ay;
            radius = std::max(radius, std::hypot(px, py));
            for (int i = 0; i <= kSteps; ++i) {
                const double a = angle.lo + step * i, sn = std::sin(a), cs = std::cos(a);
                x = Hull(x, (px * cs + py * sn) * aspect + ax);
                y = Hull(y, -px * sn + py * cs + ay);
            }
        }
    }
    const double stray = radius * step;
    x = {x.lo - stray * aspect, x.hi + stray * aspect};
    y = {y.lo - stray, y.hi + stray};
    // Less the scaled translation, then scaled about the anchor by the grey's share of the scale.
    const Interval tx = Product(g, {p.shiftX, p.shiftX}), ty = Product(g, {p.shiftY, p.shiftY});
    Interval sx, sy;
    if (!ScaleShare(g, p.scaleFactorX, &sx) || !ScaleShare(g, p.scaleFactorY, &sy)) return false;
    const Interval qx = Product(sx, {x.lo - tx.hi - ax, x.hi - tx.lo - ax});
    const Interval qy = Product(sy, {y.lo - ty.hi - ay, y.hi - ty.lo - ay});
    *ru = {qx.lo + ax, qx.hi + ax};
    *rv = {qy.lo + ay, qy.hi + ay};
    return Finite(*ru) && Finite(*rv);
}

Region Pixels(Interval u, Interval v, const myParams& p) {
    const double w = p.frameSize.x, h = p.frameSize.y;
    const auto lo = [](double x, double size) {
        return int64_t(
            std::clamp(std::floor(x - kRelativeMargin * (std::abs(x) + size)), -kFar, kFar));
    };
    const auto hi = [](double x, double size) {
        return int64_t(
            std::clamp(std::ceil(x + kRelativeMargin * (std::abs(x) + size)), -kFar, kFar));
    };
    return Grow(Region{lo(u.lo * w, w), lo(v.lo * h, h), hi(u.hi * w, w), hi(v.hi * h, h)},
                kSamplingMargin);
}

bool Wraps(int32_t wrap) { return wrap == GL_REPEAT || wrap == GL_MIRRORED_REPEAT; }

}  // namespace

Region Grow(const Region& r, int64_t by) {
    return Region{r.left - by, r.top - by, r.right + by, r.bottom + by};
}

Region Intersect(const Region& a, const Region& b) {
    const Region r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                   std::min(a.bottom, b.bottom)};
    return r.empty() ? Region{} : r;
}

Region Union(const Region& a, const Region& b) {
    if (a.empty()) return b;
    if (b.empty()) return a;
    return Region{std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
                  std::max(a.bottom, b.bottom)};
}

Region ForEdgeMode(const Region& r, const myParams& p) {
    const int64_t w = int64_t(p.frameSize.x), h = int64_t(p.frameSize.y);
    if (r.empty() || w <= 0 || h <= 0) return Region{};
    Region out = r;
    if (Wraps(p.wrapMode) && (r.left < 0 || r.right > w)) out.left = 0, out.right = w;
    if (Wraps(p.wrapMode) && (r.top < 0 || r.bottom > h)) out.top = 0, out.bottom = h;
    if (p.wrapMode == GL_CLAMP_TO_EDGE) {
        // Beyond an edge the edge's own pixels are read.
        out.left = std::clamp<int64_t>(out.left, 0, w - 1);
        out.top = std::clamp<int64_t>(out.top, 0, h - 1);
        out.right = std::clamp<int64_t>(out.right, out.left + 1, w);
        out.bottom = std::clamp<int64_t>(out.bottom, out.top + 1, h);
    }
    return Intersect(out, Region{0, 0, w, h});
}

Region SampleRegion(const myParams& p, const Region& tile) {
    if (tile.empty()) return Region{};
    // The n x n samples of an output pixel are the cells within it.
    const int64_t n = int64_t(p.aaFactor);
    return Region{tile.left * n, tile.top * n, tile.right * n, tile.bottom * n};
}

Region EvaluatedRegion(const myParams& p, const Region& window) {
    if (p.aaFactor <= 1.0f || window.empty()) return window;
    // Samples lie within their pixels; the map is read linearly between pixel centres.
    return ForEdgeMode(Grow(window, 1), p);
}

bool InputReach(const myParams& p, const Region& evaluated, Region* reach) {
    if (evaluated.empty()) {
        *reach = Region{};
        return true;
    }
    Interval g;
    if (!GreyRange(p, &g)) return false;
    const Interval u{evaluated.left / double(p.frameSize.x),
                     evaluated.right / double(p.frameSize.x)};
    const Interval v{evaluated.top / double(p.frameSize.y),
                     evaluated.bottom / double(p.frameSize.y)};
    // Each colour is displaced by its own multiple of the grey.
    const double colours[] = {p.caRed, p.caGreen, p.caBlue};
    const int count = p.caEnabled ? 3 : 1;
    Region r;
    for (int i = 0; i < count; ++i) {
        const double m = p.caEnabled ? colours[i] : 1.0;
        Interval ru, rv;
        if (!Reach(p, Product(g, {m, m}), u, v, &ru, &rv)) return false;
        r = Union(r, Pixels(ru, rv, p));
    }
    // Without a map layer the map is the input itself, read where the map is.
    *reach = Union(ForEdgeMode(r, p), MapReach(p, evaluated));
    return true;
}

namespace {

int g_softness_cells_for_testing = 0;

}  // namespace

int64_t FloorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

int SoftnessCells(const myParams& p) {
    if (!(p.blurRadius > 0.1)) return 1;
    if (g_softness_cells_for_testing > 0) return g_softness_cells_for_testing;
    // Below these radii the cells' own spread (the filter that takes them, the read between them)
    // would take a visible share of the Gaussian's width. A supersampled frame reads a map on the
    // frame's grid linearly between its pixels, which the read between cells departs from
    // further: it takes cells from twice the radii.
    const double wider = p.aaFactor > 1.0f ? 2.0 : 1.0;
    if (p.blurRadius >= kSoftnessCells4Radius * wider) return 4;
    if (p.blurRadius >= kSoftnessCells2Radius * wider) return 2;
    return 1;
}

void SetSoftnessCellsForTesting(int side) { g_softness_cells_for_testing = side; }

Region SoftnessCellRegion(const myParams& p, const Region& evaluated) {
    if (evaluated.empty()) return Region{};
    const int64_t side = SoftnessCells(p);
    // The kernel reaches its radius in cells to each side, and a pair's filtered read one more.
    const int64_t reach = int64_t(std::ceil(std::min(p.blurRadius, 100.0) / double(side))) + 1;
    // The B-spline read between cells takes two either side of a position.
    const Region read{FloorDiv(evaluated.left, side) - 2, FloorDiv(evaluated.top, side) - 2,
                      FloorDiv(evaluated.right + side - 1, side) + 3,
                      FloorDiv(evaluated.bottom + side - 1, side) + 3};
    return Grow(read, reach + 1);
}

Region MapReach(const myParams& p, const Region& evaluated) {
    if (evaluated.empty()) return Region{};
    if (const int64_t side = SoftnessCells(p); side > 1) {
        // A cell's filter reaches at most twice the side beyond the cell to either side.
        const Region cells = SoftnessCellRegion(p, evaluated);
        const Region pixels{cells.left * side, cells.top * side, cells.right * side,
                            cells.bottom * side};
        return ForEdgeMode(Grow(pixels, 2 * side), p);
    }
    const int64_t blur = p.blurRadius > 0.1 ? int64_t(std::ceil(p.blurRadius)) : 0;
    return ForEdgeMode(Grow(evaluated, blur + kSamplingMargin), p);
}
