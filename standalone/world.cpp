#include "standalone/world.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "standalone/suites.h"

namespace vexo_host {

World::World(const World& other) : def(other.def), storage(other.storage), depth(other.depth) {
    def.data = storage.empty() ? nullptr : reinterpret_cast<PF_PixelPtr>(storage.data());
}

World& World::operator=(const World& other) {
    if (this != &other) {
        def = other.def;
        storage = other.storage;
        depth = other.depth;
        def.data = storage.empty() ? nullptr : reinterpret_cast<PF_PixelPtr>(storage.data());
    }
    return *this;
}

std::string WorldSizeProblem(int64_t width, int64_t height, int depth) {
    constexpr int64_t kMax = 2147483647;  // A_long
    const int64_t widest = kMax / PixelBytes(depth);
    if (width > widest) {
        return "too wide at " + std::to_string(depth) + " bits per channel (" +
               std::to_string(width) + " pixels; at most " + std::to_string(widest) + ")";
    }
    if (height > kMax) return "too tall (" + std::to_string(height) + " pixels)";
    return "";
}

World MakeWorld(A_long width, A_long height, int depth, A_long row_padding) {
    World w;
    w.depth = depth;
    w.def.width = width;
    w.def.height = height;
    w.def.rowbytes = width * PixelBytes(depth) + row_padding;
    w.def.world_flags = depth == 32 ? kFloatWorldFlag : 0;
    w.def.pix_aspect_ratio = {1, 1};
    w.def.extent_hint = {0, 0, width, height};
    w.storage.assign(std::size_t(w.def.rowbytes) * std::size_t(height), 0);
    w.def.data = w.storage.empty() ? nullptr : reinterpret_cast<PF_PixelPtr>(w.storage.data());
    return w;
}

namespace {
uint8_t* Pixel(const World& w, A_long x, A_long y) {
    return reinterpret_cast<uint8_t*>(w.def.data) + std::ptrdiff_t(y) * w.def.rowbytes +
           std::ptrdiff_t(x) * PixelBytes(w.depth);
}
}  // namespace

float GetChannel(const World& w, A_long x, A_long y, int channel) {
    const uint8_t* p = Pixel(w, x, y);
    if (w.depth == 32) {
        float v;
        std::memcpy(&v, p + 4 * channel, sizeof v);
        return v;
    }
    return p[channel] / 255.0f;
}

void SetChannel(World* w, A_long x, A_long y, int channel, float value) {
    uint8_t* p = Pixel(*w, x, y);
    if (w->depth == 32) {
        std::memcpy(p + 4 * channel, &value, sizeof value);
    } else {
        p[channel] = uint8_t(std::lround(std::clamp(value, 0.0f, 1.0f) * 255.0f));
    }
}

World WithDepth(const World& src, int depth) {
    if (src.def.width <= 0 || src.def.height <= 0 || src.storage.empty()) {
        World dst = src;  // no pixels to convert
        dst.depth = depth;
        dst.def.world_flags = depth == 32 ? kFloatWorldFlag : 0;
        return dst;
    }
    World dst = MakeWorld(src.def.width, src.def.height, depth);
    dst.def.origin_x = src.def.origin_x;
    dst.def.origin_y = src.def.origin_y;
    for (A_long y = 0; y < src.def.height; ++y) {
        for (A_long x = 0; x < src.def.width; ++x) {
            for (int c = 0; c < 4; ++c) SetChannel(&dst, x, y, c, GetChannel(src, x, y, c));
        }
    }
    return dst;
}

World Resample(const World& src, A_long width, A_long height) {
    World dst = MakeWorld(width, height, src.depth);
    dst.def.origin_x =
        A_long(std::lround(double(src.def.origin_x) * width / std::max<A_long>(src.def.width, 1)));
    dst.def.origin_y = A_long(
        std::lround(double(src.def.origin_y) * height / std::max<A_long>(src.def.height, 1)));
    if (src.def.width <= 0 || src.def.height <= 0) return dst;
    const double fx = double(src.def.width) / width, fy = double(src.def.height) / height;
    for (A_long y = 0; y < height; ++y) {
        const A_long y0 = A_long(y * fy), y1 = std::max(y0 + 1, A_long(std::ceil((y + 1) * fy)));
        for (A_long x = 0; x < width; ++x) {
            const A_long x0 = A_long(x * fx),
                         x1 = std::max(x0 + 1, A_long(std::ceil((x + 1) * fx)));
            for (int c = 0; c < 4; ++c) {
                double sum = 0;
                int n = 0;
                for (A_long sy = y0; sy < std::min(y1, src.def.height); ++sy) {
                    for (A_long sx = x0; sx < std::min(x1, src.def.width); ++sx) {
                        sum += GetChannel(src, sx, sy, c);
                        ++n;
                    }
                }
                SetChannel(&dst, x, y, c, float(n ? sum / n : 0.0));
            }
        }
    }
    return dst;
}

}  // namespace vexo_host
