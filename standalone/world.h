// Pixel buffers the host owns and hands to the effect: four channels per pixel in the host's
// order (alpha, red, green, blue), 8 or 32 bits per channel.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "AE_Effect.h"

namespace vexo_host {

struct World {
    PF_EffectWorld def{};  // what the effect sees; `data` points into `storage`
    std::vector<uint8_t> storage;
    int depth = 8;

    World() = default;
    World(const World& other);
    World& operator=(const World& other);
};

inline int PixelBytes(int depth) { return depth == 32 ? 16 : 4; }

// Why an image of `width` by `height` cannot become a world of `depth` bits, in the user's
// terms, or "" when it can: a world counts its row bytes in the host's 32 bits. Checked by the
// image readers before anything is allocated for the pixels.
std::string WorldSizeProblem(int64_t width, int64_t height, int depth);

// A transparent black world. `row_padding` bytes follow each row, as hosts often leave them.
World MakeWorld(A_long width, A_long height, int depth, A_long row_padding = 0);

// Channel access in the host's order; 8-bit values are read and written as 0..1.
float GetChannel(const World& world, A_long x, A_long y, int channel);
void SetChannel(World* world, A_long x, A_long y, int channel, float value);

// The same pixels at another depth, placed where `world` is; 8 bits clamp to 0..1.
World WithDepth(const World& world, int depth);

// Resampled to a new size by averaging the covered pixels (downsampling) or taking the nearest
// one (upsampling), as a host does for renders at reduced resolution.
World Resample(const World& world, A_long width, A_long height);

}  // namespace vexo_host
