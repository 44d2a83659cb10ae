// Helpers for tests of the GL toolkit: host images with guarded padding, tiny programs that draw
// through RenderQuad, and raw read-back of float targets.
#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "AE_Effect.h"
#include "gl/fbo.h"

namespace vexo_test {

// Vertex stage fed the way RenderQuad feeds every program.
extern const char* const kQuadVertexSource;
// Writes the source texel under each fragment unchanged (no filtering): a bit-exact copy pass.
// Sampler "src".
extern const char* const kCopyFragmentSource;
// Samples "src" at out_uvs with the texture's own filtering and wrapping.
extern const char* const kSampleFragmentSource;
// Writes out_uvs to red and green, 0 to blue and 1 to alpha.
extern const char* const kUvFragmentSource;
// Writes the uniform "colour".
extern const char* const kFlatFragmentSource;

// A host image over its own memory. Each row carries `padding` bytes after its pixels, and the
// buffer ends with one more guarded row, all filled with a canary byte.
struct HostImage {
    static constexpr uint8_t kCanary = 0xA5;

    HostImage(int width, int height, int depth, int padding);

    int bytesPerPixel() const { return depth == 32 ? 16 : 4; }
    uint8_t* row(int y) { return storage.data() + static_cast<size_t>(y) * layer.rowbytes; }
    uint8_t* pixel(int x, int y) { return row(y) + static_cast<size_t>(x) * bytesPerPixel(); }
    float* pixelF(int x, int y) { return reinterpret_cast<float*>(pixel(x, y)); }
    // True when every byte outside the pixels still holds the canary.
    bool canariesIntact() const;
    // True when the pixel bytes equal those of `other` (same size and depth).
    bool samePixels(const HostImage& other) const;

    int depth;
    std::vector<uint8_t> storage;
    PF_LayerDef layer;
};

// RGBA float contents of a target, row 0 first, read with raw GL.
std::vector<float> ReadTarget(const PX_FBO& target);
// Replaces the whole level 0 of a float target's texture with raw GL.
void FillTarget(const PX_FBO& target, const std::vector<float>& rgba);
// A GL_RGBA32F target whose pixels are `rgba` (width * height * 4 floats, row 0 first), of a 2D
// or (`kind`) a rectangle texture.
PX_FBO MakeFloatTarget(uint32_t width, uint32_t height, const std::vector<float>& rgba,
                       int32_t wrap = GL_CLAMP_TO_EDGE, uint32_t kind = GL_TEXTURE_2D);

}  // namespace vexo_test
