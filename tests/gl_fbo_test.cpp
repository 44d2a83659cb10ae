// Render targets and host-image transfers, on a real context.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "gl/fbo.h"
#include "gl/pod.h"
#include "tests/support/gl_test_support.h"
#include "tests/support/gl_toolkit_support.h"

using vexo_test::CaptureStdout;
using vexo_test::CountLiveGLObjects;
using vexo_test::HostImage;

namespace {

class RenderTargetTest : public vexo_test::GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        baseline_ = CountLiveGLObjects().total();
        copy_ = vexo_test::BuildTestProgram(vexo_test::kQuadVertexSource,
                                            vexo_test::kCopyFragmentSource);
        ASSERT_NE(copy_, 0u);
    }
    void TearDown() override {
        if (copy_) glDeleteProgram(copy_);
        if (context()) {
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
            EXPECT_EQ(CountLiveGLObjects().total(), baseline_) << Describe(CountLiveGLObjects());
        }
        GLTest::TearDown();
    }

    // Host image -> texture -> copy pass -> float target -> host image.
    void RoundTrip(HostImage& in, HostImage& out) {
        const uint32_t w = in.layer.width, h = in.layer.height;
        PX_FBO upload = FBOHelper::CreateTextureFBO(w, h, GL_CLAMP_TO_BORDER, GL_RGBA32F,
                                                    GL_DEPTH_COMPONENT32F);
        PX_FBO copy = FBOHelper::CreateTextureFBO(w, h, GL_CLAMP_TO_BORDER, GL_RGBA32F,
                                                  GL_DEPTH_COMPONENT32F);
        UploadToTexture(upload.renderBuffer.id, &in.layer, in.depth);
        RenderQuad(&copy, copy_, {{"src", TEX2D(upload.renderBuffer.id)}}, 0, A_FloatRect{}, false);
        FBOHelper::FBOtoEffectWorld(copy, &out.layer, out.depth, GL_COLOR_ATTACHMENT0);
        FBOHelper::DeleteGenericFBO(&upload);
        FBOHelper::DeleteGenericFBO(&copy);
    }

    int baseline_ = 0;
    GLuint copy_ = 0;
};

GLint TexParameter(GLuint texture, GLenum name) {
    GLint value = 0;
    glBindTexture(GL_TEXTURE_2D, texture);
    glGetTexParameteriv(GL_TEXTURE_2D, name, &value);
    glBindTexture(GL_TEXTURE_2D, 0);
    return value;
}

GLint Integer(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}

TEST_F(RenderTargetTest, EightBitRoundTripIsExactForEveryByteAndLeavesPaddingAlone) {
    // 64 x 8 pixels = 2048 bytes: every byte value lands in every channel position.
    HostImage in(64, 8, 8, 64), out(64, 8, 8, 64);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 64; ++x)
            for (int c = 0; c < 4; ++c)
                in.pixel(x, y)[c] = static_cast<uint8_t>((y * 64 + x) * 4 + c + c * 64 + y);
    RoundTrip(in, out);
    EXPECT_TRUE(out.samePixels(in));
    EXPECT_TRUE(out.canariesIntact());
    EXPECT_TRUE(in.canariesIntact());
    EXPECT_EQ(Integer(GL_PACK_ROW_LENGTH), 0);
    EXPECT_EQ(Integer(GL_UNPACK_ROW_LENGTH), 0);
    EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), 0);
}

TEST_F(RenderTargetTest, FloatRoundTripKeepsValuesOutsideTheUnitRange) {
    HostImage in(13, 5, 32, 64), out(13, 5, 32, 64);
    const float samples[] = {-3.5f, 0.0f, 1.0f, 1.0000001f, 7.25e6f, -0.0f, 0.3f, 65504.5f};
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 13; ++x)
            for (int c = 0; c < 4; ++c)
                in.pixelF(x, y)[c] = samples[(x + 3 * y + c) % 8] * (1.0f + 0.01f * c);
    RoundTrip(in, out);
    EXPECT_TRUE(out.samePixels(in));
    EXPECT_TRUE(out.canariesIntact());
    EXPECT_EQ(out.pixelF(0, 0)[0], -3.5f);
}

TEST_F(RenderTargetTest, HostRowsMapToTargetRowsInMemoryOrder) {
    HostImage in(3, 4, 32, 16);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x)
            for (int c = 0; c < 4; ++c) in.pixelF(x, y)[c] = static_cast<float>(y * 100 + x);
    PX_FBO target = FBOHelper::CreateTextureFBO(3, 4, GL_CLAMP_TO_EDGE, GL_RGBA32F, 0);
    UploadToTexture(target.renderBuffer.id, &in.layer, 32);
    const std::vector<float> rgba = vexo_test::ReadTarget(target);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(rgba[(y * 3 + x) * 4], y * 100 + x);
    FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(RenderTargetTest, NewAndClearedTargetsAreTransparentBlack) {
    // Dirty a texture and free it so that the next target likely reuses its memory and name.
    PX_FBO first = FBOHelper::CreateTextureFBO(8, 8, GL_REPEAT, GL_RGBA32F, 0);
    vexo_test::FillTarget(first, std::vector<float>(8 * 8 * 4, 9.0f));
    FBOHelper::DeleteGenericFBO(&first);

    PX_FBO target = FBOHelper::CreateTextureFBO(8, 8, GL_REPEAT, GL_RGBA32F, 0);
    ASSERT_NE(target.fbo, 0u);
    EXPECT_EQ(vexo_test::ReadTarget(target), std::vector<float>(8 * 8 * 4, 0.0f));
    EXPECT_EQ(TexParameter(target.renderBuffer.id, GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(TexParameter(target.renderBuffer.id, GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(TexParameter(target.renderBuffer.id, GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(TexParameter(target.renderBuffer.id, GL_TEXTURE_WRAP_T), GL_REPEAT);
    EXPECT_EQ(target.renderBuffer.width, 8u);
    EXPECT_EQ(target.renderBuffer.height, 8u);
    EXPECT_EQ(target.renderBuffer.depth, 1);
    EXPECT_EQ(target.renderBuffer.internalFormat, GL_RGBA32F);
    EXPECT_EQ(target.renderBuffer.target, static_cast<uint32_t>(GL_TEXTURE_2D));
    EXPECT_TRUE(target.renderBuffer.isTexture);
    EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);

    // A masked-off colour buffer and a stray clear colour must not survive a clear.
    vexo_test::FillTarget(target, std::vector<float>(8 * 8 * 4, 0.5f));
    glColorMask(GL_FALSE, GL_TRUE, GL_FALSE, GL_FALSE);
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    FBOHelper::ClearFBO(&target);
    EXPECT_EQ(vexo_test::ReadTarget(target), std::vector<float>(8 * 8 * 4, 0.0f));
    GLboolean mask[4] = {};
    glGetBooleanv(GL_COLOR_WRITEMASK, mask);
    EXPECT_TRUE(mask[0] && mask[1] && mask[2] && mask[3]);
    GLfloat clear[4] = {1, 1, 1, 1};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0] + clear[1] + clear[2] + clear[3], 0.0f);

    PX_FBO none;
    FBOHelper::ClearFBO(&none);
    FBOHelper::DeleteGenericFBO(&target);
}

// Each wrap mode, seen by drawing a 4 x 4 texture into a 12 x 12 target with coordinates from -1
// to 2: every target pixel lands on the centre of one (possibly virtual) texel.
TEST_F(RenderTargetTest, WrapModesResolveCoordinatesOutsideTheTexture) {
    GLuint sample =
        vexo_test::BuildTestProgram(vexo_test::kQuadVertexSource, vexo_test::kSampleFragmentSource);
    ASSERT_NE(sample, 0u);
    std::vector<float> texels(4 * 4 * 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) {
            float* t = &texels[(y * 4 + x) * 4];
            t[0] = 1.0f + x;
            t[1] = 1.0f + y;
            t[2] = 0.25f;
            t[3] = 1.0f;
        }
    auto repeat = [](int i) { return ((i % 4) + 4) % 4; };
    auto mirror = [](int i) {
        const int period = ((i % 8) + 8) % 8;
        return period < 4 ? period : 7 - period;
    };
    auto edge = [](int i) { return i < 0 ? 0 : (i > 3 ? 3 : i); };
    struct Mode {
        GLint wrap;
        std::function<int(int)> map;  // -1: the border
    } modes[] = {
        {GL_CLAMP_TO_BORDER, [](int i) { return (i < 0 || i > 3) ? -1 : i; }},
        {GL_REPEAT, repeat},
        {GL_MIRRORED_REPEAT, mirror},
        {GL_CLAMP_TO_EDGE, edge},
    };
    for (const Mode& mode : modes) {
        SCOPED_TRACE(mode.wrap);
        PX_FBO source = vexo_test::MakeFloatTarget(4, 4, texels, mode.wrap);
        PX_FBO target = FBOHelper::CreateTextureFBO(12, 12, GL_CLAMP_TO_EDGE, GL_RGBA32F, 0);
        RenderQuad(&target, sample, {{"src", TEX2D(source.renderBuffer.id)}}, 1,
                   A_FloatRect{-1.0, -1.0, 2.0, 2.0}, false);
        const std::vector<float> rgba = vexo_test::ReadTarget(target);
        for (int y = 0; y < 12; ++y)
            for (int x = 0; x < 12; ++x) {
                const int tx = mode.map(x - 4), ty = mode.map(y - 4);
                const float* got = &rgba[(y * 12 + x) * 4];
                if (tx < 0 || ty < 0) {
                    for (int c = 0; c < 4; ++c) EXPECT_NEAR(got[c], 0.0f, 1e-4) << x << "," << y;
                } else {
                    EXPECT_NEAR(got[0], 1.0f + tx, 1e-4) << x << "," << y;
                    EXPECT_NEAR(got[1], 1.0f + ty, 1e-4) << x << "," << y;
                    EXPECT_NEAR(got[3], 1.0f, 1e-4) << x << "," << y;
                }
            }
        FBOHelper::DeleteGenericFBO(&source);
        FBOHelper::DeleteGenericFBO(&target);
    }
    glDeleteProgram(sample);
}

TEST_F(RenderTargetTest, IntegerTargetsAnnounceThemselvesAndUseNearestFiltering) {
    PX_FBO target;
    const std::string out = CaptureStdout(
        [&] { target = FBOHelper::CreateTextureFBO(4, 2, GL_CLAMP_TO_EDGE, GL_RGBA32I, 0); });
    EXPECT_EQ(out, "Image Type is INT\n");
    ASSERT_NE(target.fbo, 0u);
    EXPECT_EQ(TexParameter(target.renderBuffer.id, GL_TEXTURE_MIN_FILTER), GL_NEAREST);
    EXPECT_EQ(TexParameter(target.renderBuffer.id, GL_TEXTURE_MAG_FILTER), GL_NEAREST);
    GLint format = 0;
    glBindTexture(GL_TEXTURE_2D, target.renderBuffer.id);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &format);
    glBindTexture(GL_TEXTURE_2D, 0);
    EXPECT_EQ(format, GL_RGBA32I);

    std::vector<GLint> pixels(4 * 2 * 4, 77);
    glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    glReadPixels(0, 0, 4, 2, GL_RGBA_INTEGER, GL_INT, pixels.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    EXPECT_EQ(pixels, std::vector<GLint>(4 * 2 * 4, 0));
    FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(RenderTargetTest, DepthStoragesAreAcceptedWithNearestFiltering) {
    for (GLint format : {GL_DEPTH_COMPONENT32F, GL_DEPTH32F_STENCIL8}) {
        SCOPED_TRACE(format);
        GLRenderBuffer storage =
            FBOHelper::CreateTextureRenderBuffer(16, 8, format, GL_CLAMP_TO_EDGE);
        EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
        EXPECT_TRUE(glIsTexture(storage.id));
        EXPECT_EQ(TexParameter(storage.id, GL_TEXTURE_MIN_FILTER), GL_NEAREST);
        GLint actual = 0;
        glBindTexture(GL_TEXTURE_2D, storage.id);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_INTERNAL_FORMAT, &actual);
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(actual, format);
        FBOHelper::DeleteRenderBuffer(storage);
        EXPECT_EQ(storage.id, 0u);
    }
}

TEST_F(RenderTargetTest, FrameBufferStatusNames) {
    const std::pair<uint32_t, const char*> names[] = {
        {0x8219, "GL_FRAMEBUFFER_UNDEFINED"},
        {0x8CD6, "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT"},
        {0x8CD7, "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT"},
        {0x8CDB, "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER"},
        {0x8CDC, "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER"},
        {0x8CDD, "GL_FRAMEBUFFER_UNSUPPORTED"},
        {0x8D56, "GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE"},
        {0x8DA8, "GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS"},
    };
    for (const auto& entry : names)
        EXPECT_EQ(FBOHelper::getFrameBufferError(entry.first), entry.second);
    EXPECT_EQ(FBOHelper::getFrameBufferError(0x8CD5), "");
    EXPECT_EQ(FBOHelper::getFrameBufferError(0), "");
    EXPECT_EQ(FBOHelper::getFrameBufferError(0xFFFFFFFFu), "");
}

TEST_F(RenderTargetTest, IncompleteFramebuffersAreReportedAndLeaveNothingBehind) {
    GLRenderBuffer empty;
    GLuint fbo = 1;
    std::string out = CaptureStdout([&] { fbo = FBOHelper::CreateFBO(empty); });
    EXPECT_EQ(fbo, 0u);
    EXPECT_EQ(out, "Framebuffer Error - GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENTCode: 36055\n");
    EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);

    // A depth texture cannot be a colour attachment.
    PX_FBO target;
    out = CaptureStdout([&] {
        target = FBOHelper::CreateTextureFBO(4, 4, GL_CLAMP_TO_EDGE, GL_DEPTH_COMPONENT32F, 0);
    });
    EXPECT_EQ(out, "Framebuffer Error - GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENTCode: 36054\n");
    EXPECT_EQ(target.fbo, 0u);
    EXPECT_EQ(target.renderBuffer.id, 0u);  // released rather than leaked
    EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
}

TEST_F(RenderTargetTest, CreateFboLeavesACompleteFramebufferBound) {
    GLRenderBuffer storage = FBOHelper::CreateTextureRenderBuffer(4, 4, GL_RGBA32F, GL_REPEAT);
    const GLuint fbo = FBOHelper::CreateFBO(storage);
    ASSERT_NE(fbo, 0u);
    EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), static_cast<GLint>(fbo));
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER),
              static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    PX_FBO target{fbo, storage};
    FBOHelper::DeleteGenericFBO(&target);
    EXPECT_EQ(target.fbo, 0u);
    EXPECT_EQ(target.renderBuffer.id, 0u);
    FBOHelper::DeleteGenericFBO(&target);  // twice is harmless
    FBOHelper::DeleteGenericFBO(nullptr);
}

TEST_F(RenderTargetTest, DeleteGenericFboWithoutFramebufferLeavesTheTextureAlone) {
    PX_FBO target;
    target.renderBuffer = FBOHelper::CreateTextureRenderBuffer(2, 2, GL_RGBA32F, GL_REPEAT);
    FBOHelper::DeleteGenericFBO(&target);
    EXPECT_TRUE(glIsTexture(target.renderBuffer.id));
    FBOHelper::DeleteRenderBuffer(target.renderBuffer);
    EXPECT_EQ(target.renderBuffer.id, 0u);
    FBOHelper::DeleteRenderBuffer(target.renderBuffer);  // id 0: nothing
}

TEST_F(RenderTargetTest, DeleteRenderBufferOfABufferStorageDeletesABufferNotATexture) {
    GLuint buffer = 0, texture = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    // A texture under the same name, so that deleting the wrong kind shows.
    while (!glIsTexture(buffer)) {
        glGenTextures(1, &texture);
        glBindTexture(GL_TEXTURE_2D, texture);
        glBindTexture(GL_TEXTURE_2D, 0);
        if (texture > buffer) break;
    }
    ASSERT_TRUE(glIsTexture(buffer)) << "no texture could share the buffer's name";
    GLRenderBuffer storage;
    storage.id = buffer;
    storage.isTexture = false;
    FBOHelper::DeleteRenderBuffer(storage);
    EXPECT_EQ(storage.id, 0u);
    EXPECT_FALSE(glIsBuffer(buffer));
    EXPECT_TRUE(glIsTexture(buffer));
    for (GLuint name = 1; name <= texture; ++name)
        if (glIsTexture(name)) glDeleteTextures(1, &name);
}

TEST_F(RenderTargetTest, UploadReportsMissingTextureAndImage) {
    HostImage image(2, 2, 8, 0);
    std::string out = CaptureStdout([&] { UploadToTexture(0, &image.layer, 8); });
    EXPECT_EQ(out, "VEXO: UploadToTexture() called without valid texture\n");
    glGetError();  // GL rejects the upload into texture 0

    PX_FBO target = FBOHelper::CreateTextureFBO(2, 2, GL_REPEAT, GL_RGBA32F, 0);
    out = CaptureStdout([&] { UploadToTexture(target.renderBuffer.id, nullptr, 8); });
    EXPECT_EQ(out, "VEXO: UploadToTexture() called without valid aeBuffer\n");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), 0);
    FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(RenderTargetTest, UnsupportedDepthsAndShortRowsAreRefusedWithoutTouchingMemory) {
    PX_FBO target = FBOHelper::CreateTextureFBO(4, 4, GL_REPEAT, GL_RGBA32F, 0);
    vexo_test::FillTarget(target, std::vector<float>(4 * 4 * 4, 0.75f));
    for (int depth : {16, 0, 1}) {
        SCOPED_TRACE(depth);
        HostImage image(4, 4, 8, 8);
        const std::vector<uint8_t> before = image.storage;
        std::string out =
            CaptureStdout([&] { UploadToTexture(target.renderBuffer.id, &image.layer, depth); });
        EXPECT_EQ(out.rfind("VEXO: ", 0), 0u) << out;
        out = CaptureStdout([&] {
            FBOHelper::FBOtoEffectWorld(target, &image.layer, depth, GL_COLOR_ATTACHMENT0);
        });
        EXPECT_EQ(out.rfind("VEXO: ", 0), 0u) << out;
        EXPECT_EQ(image.storage, before);
    }
    // Rows shorter than their pixels, or running backwards, would send GL past the buffer.
    for (int rowbytes : {15, -16}) {
        HostImage image(4, 4, 8, 0);
        image.layer.rowbytes = rowbytes;
        const std::vector<uint8_t> before = image.storage;
        std::string out = CaptureStdout([&] {
            FBOHelper::FBOtoEffectWorld(target, &image.layer, 8, GL_COLOR_ATTACHMENT0);
            UploadToTexture(target.renderBuffer.id, &image.layer, 8);
        });
        EXPECT_NE(out.find("VEXO: FBOtoEffectWorld()"), std::string::npos) << out;
        EXPECT_NE(out.find("VEXO: UploadToTexture()"), std::string::npos) << out;
        EXPECT_EQ(image.storage, before);
    }
    // The target was never written.
    EXPECT_EQ(vexo_test::ReadTarget(target), std::vector<float>(4 * 4 * 4, 0.75f));
    FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(RenderTargetTest, ReadbackRefusesMissingImageAndFramebuffer) {
    PX_FBO target = FBOHelper::CreateTextureFBO(2, 2, GL_REPEAT, GL_RGBA32F, 0);
    std::string out = CaptureStdout(
        [&] { FBOHelper::FBOtoEffectWorld(target, nullptr, 8, GL_COLOR_ATTACHMENT0); });
    EXPECT_EQ(out, "VEXO: FBOtoEffectWorld() called without valid aeBuffer\n");

    HostImage image(2, 2, 8, 4);
    const std::vector<uint8_t> before = image.storage;
    PX_FBO failed;
    out = CaptureStdout(
        [&] { FBOHelper::FBOtoEffectWorld(failed, &image.layer, 8, GL_COLOR_ATTACHMENT0); });
    EXPECT_EQ(out, "VEXO: FBOtoEffectWorld() called without valid framebuffer\n");
    EXPECT_EQ(image.storage, before);
    FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(RenderTargetTest, ManyFramesLeaveNoObjectAlive) {
    HostImage in(17, 9, 8, 12), out(17, 9, 8, 12);
    for (size_t k = 0; k < in.storage.size(); ++k) in.storage[k] = static_cast<uint8_t>(k * 7);
    const int before = CountLiveGLObjects().total();
    for (int frame = 0; frame < 40; ++frame) RoundTrip(in, out);
    EXPECT_EQ(CountLiveGLObjects().total(), before) << Describe(CountLiveGLObjects());
    EXPECT_TRUE(out.samePixels(in));
}

}  // namespace
