#include "tests/support/gl_toolkit_support.h"

#include <gtest/gtest.h>

namespace vexo_test {

const char* const kQuadVertexSource = R"(#version 330
in vec4 vertex;
in vec2 tex;
out vec2 out_uvs;
void main() {
    gl_Position = vec4(vertex.xyz, 1.0);
    out_uvs = tex;
}
)";

const char* const kCopyFragmentSource = R"(#version 330 core
uniform sampler2D src;
in vec2 out_uvs;
out vec4 colour;
void main() { colour = texelFetch(src, ivec2(gl_FragCoord.xy), 0); }
)";

const char* const kSampleFragmentSource = R"(#version 330 core
uniform sampler2D src;
in vec2 out_uvs;
out vec4 colour;
void main() { colour = texture(src, out_uvs); }
)";

const char* const kUvFragmentSource = R"(#version 330 core
in vec2 out_uvs;
out vec4 colour;
void main() { colour = vec4(out_uvs, 0.0, 1.0); }
)";

const char* const kFlatFragmentSource = R"(#version 330 core
uniform vec4 colour;
in vec2 out_uvs;
out vec4 result;
void main() { result = colour; }
)";

HostImage::HostImage(int width, int height, int depth_, int padding) : depth(depth_), layer{} {
    layer.width = width;
    layer.height = height;
    layer.rowbytes = width * bytesPerPixel() + padding;
    storage.assign(static_cast<size_t>(layer.rowbytes) * (height + 1), kCanary);
    layer.data = reinterpret_cast<PF_PixelPtr>(storage.data());
}

bool HostImage::canariesIntact() const {
    const size_t pixelBytes = static_cast<size_t>(layer.width) * (depth == 32 ? 16 : 4);
    for (size_t at = 0; at < storage.size(); ++at) {
        const size_t y = at / layer.rowbytes;
        const size_t x = at % layer.rowbytes;
        const bool inPixels = y < static_cast<size_t>(layer.height) && x < pixelBytes;
        if (!inPixels && storage[at] != kCanary) return false;
    }
    return true;
}

bool HostImage::samePixels(const HostImage& other) const {
    const size_t pixelBytes = static_cast<size_t>(layer.width) * (depth == 32 ? 16 : 4);
    for (int y = 0; y < layer.height; ++y) {
        const uint8_t* a = storage.data() + static_cast<size_t>(y) * layer.rowbytes;
        const uint8_t* b = other.storage.data() + static_cast<size_t>(y) * other.layer.rowbytes;
        if (std::memcmp(a, b, pixelBytes) != 0) return false;
    }
    return true;
}

std::vector<float> ReadTarget(const PX_FBO& target) {
    const GLsizei w = static_cast<GLsizei>(target.renderBuffer.width);
    const GLsizei h = static_cast<GLsizei>(target.renderBuffer.height);
    std::vector<float> rgba(static_cast<size_t>(w) * h * 4, -1234.0f);
    glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    glReadBuffer(GL_COLOR_ATTACHMENT0);
    glReadPixels(0, 0, w, h, GL_RGBA, GL_FLOAT, rgba.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return rgba;
}

void FillTarget(const PX_FBO& target, const std::vector<float>& rgba) {
    const GLsizei w = static_cast<GLsizei>(target.renderBuffer.width);
    const GLsizei h = static_cast<GLsizei>(target.renderBuffer.height);
    ASSERT_EQ(rgba.size(), static_cast<size_t>(w) * h * 4);
    const GLenum kind = target.renderBuffer.target;
    glBindTexture(kind, target.renderBuffer.id);
    glTexSubImage2D(kind, 0, 0, 0, w, h, GL_RGBA, GL_FLOAT, rgba.data());
    glBindTexture(kind, 0);
}

PX_FBO MakeFloatTarget(uint32_t width, uint32_t height, const std::vector<float>& rgba,
                       int32_t wrap, uint32_t kind) {
    PX_FBO target;
    if (kind == GL_TEXTURE_2D) {
        target = FBOHelper::CreateTextureFBO(width, height, wrap, GL_RGBA32F, 0);
    } else {
        target.renderBuffer =
            FBOHelper::CreateTextureRenderBuffer(width, height, GL_RGBA32F, wrap, kind);
        target.fbo = FBOHelper::CreateFBO(target.renderBuffer);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
    }
    EXPECT_NE(target.fbo, 0u);
    FillTarget(target, rgba);
    return target;
}

}  // namespace vexo_test
