// Render targets (a 2D texture attached to a framebuffer) and the pixel transfers between host
// image buffers and GL. Pixels cross unchanged, four channels in the host's order, as GL_RGBA.
#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <string>

#include "AE_Effect.h"

// One colour storage.
struct GLRenderBuffer {
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t depth = 0;
    int32_t internalFormat = 0;
    uint32_t id = 0;  // texture, or buffer object when !isTexture; 0 = none
    uint32_t target = 0;
    bool isTexture = false;
};

// One render target. Owns its framebuffer and texture; copies share the names, and only
// FBOHelper::DeleteGenericFBO (or DeleteRenderBuffer for the texture alone) releases them.
struct PX_FBO {
    uint32_t fbo = 0;  // 0 = failed or released target
    GLRenderBuffer renderBuffer;
};

namespace FBOHelper {

// The wrap a texture of `target` takes for the edge mode `wrap`: a rectangle texture holds no
// repeating wrap, and its readers repeat the frame themselves, clamped to its edge meanwhile.
int32_t SamplerWrap(uint32_t target, int32_t wrap);
// `target` is GL_TEXTURE_2D, or GL_TEXTURE_RECTANGLE for storage sampled at texel positions
// rather than at fractions of its size; `wrap` as SamplerWrap gives it for that target.
GLRenderBuffer CreateTextureRenderBuffer(uint32_t width, uint32_t height, int32_t internalFormat,
                                         int32_t wrap, uint32_t target = GL_TEXTURE_2D);
// Leaves the new framebuffer bound on success; 0 (and nothing bound) when incomplete.
GLuint CreateFBO(const GLRenderBuffer& storage);
// A complete target cleared to transparent black, or fbo 0 with nothing left alive. Note the
// argument order: wrap before format. `unused` is accepted and ignored.
PX_FBO CreateTextureFBO(uint32_t width, uint32_t height, int32_t wrap, int32_t internalFormat,
                        int32_t unused);
void ClearFBO(PX_FBO* target);
// GL name of an incomplete-framebuffer status; "" for anything else.
std::string getFrameBufferError(uint32_t status);
void DeleteRenderBuffer(GLRenderBuffer& storage);
void DeleteGenericFBO(PX_FBO* target);
// Reads `target` into the host image (depth 8: bytes, 32: floats), honouring padded rows.
void FBOtoEffectWorld(PX_FBO& target, PF_LayerDef* image, int depth, int readBuffer);

// Test seam: new colour storage is filled with what no pass writes (NaN, or an unlikely colour
// where the storage holds bytes) instead of the zeros llvmpipe gives it, so that a pixel nobody
// drew shows in a test as it would on a GPU, where new storage holds whatever was there before.
void PoisonNewTargetsForTesting(bool on);
// While poisoning is on, fills a target taken again from an earlier frame as a new one would
// be: the pixels it keeps are no more a pass's to read than a new target's.
void PoisonTakenTargetForTesting(const GLRenderBuffer& storage);

}  // namespace FBOHelper

// Copies a host image (depth 8 or 32) into level 0 of an existing texture of at least its size,
// honouring padded rows. The host's first row becomes texture row 0.
void UploadToTexture(GLuint texture, PF_LayerDef* image, int depth,
                     uint32_t target = GL_TEXTURE_2D);
