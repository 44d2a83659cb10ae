// Quad pods and the drawing routines, on a real context.
#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "gl/gl_errors.h"
#include "gl/pod.h"
#include "tests/support/gl_test_support.h"
#include "tests/support/gl_toolkit_support.h"

using vexo_test::CaptureStdout;
using vexo_test::CountLiveGLObjects;

namespace {

// Quad corners in clip space and their captured positions. `halfWidth` 0.5 squeezes the quad
// into the left half and moves each further instance one half to the right.
const char* const kShiftVertex = R"(#version 330
in vec4 vertex;
in vec2 tex;
uniform float halfWidth;
out vec2 out_uvs;
out vec4 captured;
void main() {
    float x = (vertex.x + 1.0) * halfWidth - 1.0 + float(gl_InstanceID) * 2.0 * halfWidth;
    gl_Position = vec4(x, vertex.yzw);
    captured = vertex;
    out_uvs = tex;
}
)";

GLint Integer(GLenum name) {
    GLint value = -1;
    glGetIntegerv(name, &value);
    return value;
}

std::vector<float> BufferFloats(GLuint buffer, size_t count) {
    std::vector<float> data(count, -1.0f);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(count * sizeof(float)),
                       data.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return data;
}

class QuadPodTest : public vexo_test::GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        baseline_ = CountLiveGLObjects().total();
        shift_ =
            vexo_test::BuildTestProgram(kShiftVertex, vexo_test::kFlatFragmentSource, "captured");
        uv_ =
            vexo_test::BuildTestProgram(vexo_test::kQuadVertexSource, vexo_test::kUvFragmentSource);
        ASSERT_NE(shift_, 0u);
        ASSERT_NE(uv_, 0u);
        target_ = FBOHelper::CreateTextureFBO(8, 8, GL_CLAMP_TO_EDGE, GL_RGBA32F, 0);
        ASSERT_NE(target_.fbo, 0u);
    }
    void TearDown() override {
        if (context()) {
            FBOHelper::DeleteGenericFBO(&target_);
            glDeleteProgram(shift_);
            glDeleteProgram(uv_);
            EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
            EXPECT_EQ(CountLiveGLObjects().total(), baseline_) << Describe(CountLiveGLObjects());
        }
        GLTest::TearDown();
    }

    // Draws a flat quad pod with `adjust` applied to its parameters; returns which of the 8 x 8
    // pixels were covered, row 0 first.
    std::array<bool, 64> Coverage(const std::function<void(GL_Pod&)>& adjust,
                                  float halfWidth = 1.0f) {
        FBOHelper::ClearFBO(&target_);
        GL_Pod pod =
            CreateQuad(shift_, {{"colour", VEC4({1, 1, 1, 1})}, {"halfWidth", VEC(halfWidth)}}, 0,
                       A_FloatRect{});
        adjust(pod);
        const std::string out = CaptureStdout([&] {
            RenderPOD(target_.fbo, Vec4i{0, 0, 8, 8}, pod);
        });
        EXPECT_EQ(out, "");
        ClearAttribBuffers(pod.attributes);
        const std::vector<float> rgba = vexo_test::ReadTarget(target_);
        std::array<bool, 64> covered{};
        for (int k = 0; k < 64; ++k) covered[k] = rgba[k * 4 + 3] > 0.5f;
        return covered;
    }

    int baseline_ = 0;
    GLuint shift_ = 0, uv_ = 0;
    PX_FBO target_;
};

// Pixel (x, y) of the 8 x 8 target: is its centre strictly below (-1) or above (+1) the
// diagonal from top-left to bottom-right, or on it (0)?
int Side(int x, int y) { return x + y < 7 ? -1 : (x + y > 7 ? 1 : 0); }

TEST_F(QuadPodTest, QuadPodDescribesOneStripWithThreeAttributes) {
    const UniformMap uniforms = {{"halfWidth", VEC(1)}};
    GL_Pod pod = CreateQuad(shift_, uniforms, 0, A_FloatRect{});
    EXPECT_EQ(pod.params[PodParam::mode], static_cast<uint32_t>(GL_TRIANGLE_STRIP));
    EXPECT_EQ(pod.params[PodParam::count], 4u);
    EXPECT_EQ(pod.params[PodParam::instances], 1u);
    EXPECT_EQ(pod.params[PodParam::program], shift_);
    for (unsigned k :
         {PodParam::first, PodParam::reserved, PodParam::indexBuffer, PodParam::feedbackBuffer,
          PodParam::feedbackMode, PodParam::restartIndex, PodParam::cullFace})
        EXPECT_EQ(pod.params[k], 0u) << k;
    EXPECT_EQ(pod.uniforms.size(), 1u);
    EXPECT_EQ(pod.uniforms.at("halfWidth").value.f[0], 1.0f);

    ASSERT_EQ(pod.attributes.size(), 3u);
    ASSERT_EQ(pod.buffers.size(), 2u);
    // Copies: the pod is destroyed below, and its entries with it.
    const AttributeType vertex = pod.attributes.at("vertex");
    const AttributeType tex = pod.attributes.at("tex");
    const AttributeType texCoordIn = pod.attributes.at("texCoordIn");
    EXPECT_EQ(vertex.buffer, pod.buffers[0]);
    EXPECT_EQ(vertex.size, 4);
    EXPECT_EQ(vertex.stride, 16);
    EXPECT_EQ(vertex.type, static_cast<GLenum>(GL_FLOAT));
    for (const AttributeType* t : {&tex, &texCoordIn}) {
        EXPECT_EQ(t->buffer, pod.buffers[1]);
        EXPECT_EQ(t->size, 2);
        EXPECT_EQ(t->stride, 8);
        EXPECT_EQ(t->type, static_cast<GLenum>(GL_FLOAT));
    }
    EXPECT_EQ(BufferFloats(pod.buffers[0], 16),
              std::vector<float>(quad_vertices, quad_vertices + 16));
    EXPECT_EQ(BufferFloats(pod.buffers[1], 8), std::vector<float>(quad_tex, quad_tex + 8));

    // The pod's memory goes with it; its buffers stay until someone deletes them.
    const std::vector<GLuint> names = pod.buffers;
    { GL_Pod gone = std::move(pod); }
    for (GLuint b : names) EXPECT_TRUE(glIsBuffer(b));
    AttributeMap attributes = {{"vertex", vertex}, {"tex", tex}, {"texCoordIn", texCoordIn}};
    const std::string out = CaptureStdout([&] { ClearAttribBuffers(attributes); });
    EXPECT_EQ(out, "");  // the shared buffer's second deletion is silent
    EXPECT_TRUE(attributes.empty());
    for (GLuint b : names) EXPECT_FALSE(glIsBuffer(b));
}

TEST_F(QuadPodTest, RectangleCoordinatesFollowTheVertexOrder) {
    GL_Pod pod = CreateQuad(shift_, {}, 1, A_FloatRect{0.25, 0.125, 0.75, 0.875});
    EXPECT_EQ(BufferFloats(pod.buffers[1], 8),
              (std::vector<float>{0.25f, 0.125f, 0.75f, 0.125f, 0.25f, 0.875f, 0.75f, 0.875f}));
    ClearAttribBuffers(pod.attributes);
    pod = CreateQuad(shift_, {}, 1, A_FloatRect{0, 0, 1, 1});
    EXPECT_EQ(BufferFloats(pod.buffers[1], 8), std::vector<float>(quad_tex, quad_tex + 8));
    ClearAttribBuffers(pod.attributes);
}

TEST_F(QuadPodTest, RenderQuadMapsCornersAndReleasesEverythingItMade) {
    struct Case {
        uint8_t useRect;
        A_FloatRect rect;
        float left, top, right, bottom;  // expected coordinates at the target's edges
    } cases[] = {
        {0, {0.25, 0.25, 0.75, 0.75}, 0, 0, 1, 1},  // the rectangle is ignored without the flag
        {1, {0.25, 0.25, 0.75, 0.75}, 0.25f, 0.25f, 0.75f, 0.75f},
        {1, {0.1, 0.9, 0.6, 0.2}, 0.1f, 0.9f, 0.6f, 0.2f},  // top goes to row 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.left);
        PX_FBO target = FBOHelper::CreateTextureFBO(8, 4, GL_CLAMP_TO_EDGE, GL_RGBA32F, 0);
        const int before = CountLiveGLObjects().total();
        const std::string out = CaptureStdout([&] {
            RenderQuad(&target, uv_, {{"unused", VEC(1)}}, c.useRect, c.rect, false);
        });
        EXPECT_EQ(out, "No Active Uniforms for prog: " + std::to_string(uv_) + "\n");
        EXPECT_EQ(CountLiveGLObjects().total(), before) << Describe(CountLiveGLObjects());
        EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
        EXPECT_EQ(Integer(GL_CURRENT_PROGRAM), 0);
        EXPECT_EQ(Integer(GL_VERTEX_ARRAY_BINDING), 0);
        GLint viewport[4] = {};
        glGetIntegerv(GL_VIEWPORT, viewport);
        EXPECT_EQ(viewport[2], 8);
        EXPECT_EQ(viewport[3], 4);

        const std::vector<float> rgba = vexo_test::ReadTarget(target);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 8; ++x) {
                const float u = c.left + (c.right - c.left) * (x + 0.5f) / 8.0f;
                const float v = c.top + (c.bottom - c.top) * (y + 0.5f) / 4.0f;
                EXPECT_NEAR(rgba[(y * 8 + x) * 4 + 0], u, 1e-5) << x << "," << y;
                EXPECT_NEAR(rgba[(y * 8 + x) * 4 + 1], v, 1e-5) << x << "," << y;
            }
        FBOHelper::DeleteGenericFBO(&target);
    }
}

TEST_F(QuadPodTest, RenderQuadWithTextureBarrierDrawsTheSame) {
    CaptureStdout([&] { RenderQuad(&target_, uv_, {}, 0, A_FloatRect{}, true); });
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    const std::vector<float> rgba = vexo_test::ReadTarget(target_);
    EXPECT_NEAR(rgba[0], 1.0f / 16, 1e-6);
    EXPECT_NEAR(rgba[(63 * 4) + 1], 15.0f / 16, 1e-6);
}

TEST_F(QuadPodTest, RenderQuadWithoutTargetDoesNothing) {
    const int before = CountLiveGLObjects().total();
    const std::string out =
        CaptureStdout([&] { RenderQuad(nullptr, uv_, {}, 0, A_FloatRect{}, false); });
    EXPECT_EQ(out, "VEXO: RenderQuad() called without a target\n");
    EXPECT_EQ(CountLiveGLObjects().total(), before);
}

TEST_F(QuadPodTest, RenderPodKeepsThePodsBuffers) {
    GL_Pod pod = CreateQuad(shift_, {{"colour", VEC4({1, 0, 0, 1})}, {"halfWidth", VEC(1)}}, 0,
                            A_FloatRect{});
    RenderPOD(target_.fbo, Vec4i{0, 0, 8, 8}, pod);
    for (GLuint b : pod.buffers) EXPECT_TRUE(glIsBuffer(b));
    EXPECT_EQ(Integer(GL_FRAMEBUFFER_BINDING), 0);
    EXPECT_EQ(Integer(GL_CURRENT_PROGRAM), 0);
    EXPECT_EQ(vexo_test::ReadTarget(target_)[0], 1.0f);
    ClearAttribBuffers(pod.attributes);
}

TEST_F(QuadPodTest, ArrayDrawsHonourFirstAndInstances) {
    auto full = Coverage([](GL_Pod&) {});
    for (bool c : full) EXPECT_TRUE(c);

    // Vertices 1..3: bottom-right, top-left, top-right.
    auto upper = Coverage([](GL_Pod& p) {
        p.params[PodParam::first] = 1;
        p.params[PodParam::count] = 3;
    });
    for (int k = 0; k < 64; ++k)
        if (Side(k % 8, k / 8) != 0) {
            EXPECT_EQ(upper[k], Side(k % 8, k / 8) > 0) << k;
        }

    auto left = Coverage([](GL_Pod&) {}, 0.5f);
    auto both = Coverage([](GL_Pod& p) { p.params[PodParam::instances] = 2; }, 0.5f);
    for (int k = 0; k < 64; ++k) {
        EXPECT_EQ(left[k], k % 8 < 4) << k;
        EXPECT_TRUE(both[k]) << k;
    }
}

TEST_F(QuadPodTest, IndexedDrawsRestartAndSwitchRestartOffAgain) {
    const GLuint indices[] = {0, 1, 2, 99, 3};
    GLuint elements = 0;
    glGenBuffers(1, &elements);
    glBindBuffer(GL_ARRAY_BUFFER, elements);
    glBufferData(GL_ARRAY_BUFFER, sizeof(indices), indices, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    // Without restart index 99 would break the strip; with it, only the first triangle remains.
    auto lower = Coverage([&](GL_Pod& p) {
        p.params[PodParam::indexBuffer] = elements;
        p.params[PodParam::count] = 5;
        p.params[PodParam::restartIndex] = 99;
    });
    for (int k = 0; k < 64; ++k)
        if (Side(k % 8, k / 8) != 0) {
            EXPECT_EQ(lower[k], Side(k % 8, k / 8) < 0) << k;
        }
    EXPECT_FALSE(glIsEnabled(GL_PRIMITIVE_RESTART));
    EXPECT_EQ(Integer(GL_ELEMENT_ARRAY_BUFFER_BINDING), 0);

    auto firstThree = Coverage([&](GL_Pod& p) {
        p.params[PodParam::indexBuffer] = elements;
        p.params[PodParam::count] = 3;
    });
    EXPECT_EQ(firstThree, lower);
    glDeleteBuffers(1, &elements);
}

TEST_F(QuadPodTest, CullingDropsFrontFacesAndIsSwitchedOffAgain) {
    auto front = Coverage([](GL_Pod& p) { p.params[PodParam::cullFace] = GL_FRONT; });
    for (bool c : front) EXPECT_FALSE(c);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
    auto back = Coverage([](GL_Pod& p) { p.params[PodParam::cullFace] = GL_BACK; });
    for (bool c : back) EXPECT_TRUE(c);
    EXPECT_FALSE(glIsEnabled(GL_CULL_FACE));
}

TEST_F(QuadPodTest, TransformFeedbackCapturesVerticesAndRasterizesNothing) {
    GLuint feedback = 0;
    glGenBuffers(1, &feedback);
    glBindBuffer(GL_ARRAY_BUFFER, feedback);
    std::vector<float> zeros(6 * 4, 0.0f);
    glBufferData(GL_ARRAY_BUFFER, zeros.size() * sizeof(float), zeros.data(), GL_STATIC_READ);
    glBindBuffer(GL_ARRAY_BUFFER, 0);

    auto covered = Coverage([&](GL_Pod& p) {
        p.params[PodParam::feedbackBuffer] = feedback;
        p.params[PodParam::feedbackMode] = GL_TRIANGLES;
    });
    for (bool c : covered) EXPECT_FALSE(c);
    EXPECT_FALSE(glIsEnabled(GL_RASTERIZER_DISCARD));
    EXPECT_EQ(Integer(GL_TRANSFORM_FEEDBACK_BINDING), 0);

    // Two triangles of the strip; the first is bottom-left, bottom-right, top-left.
    const std::vector<float> captured = BufferFloats(feedback, 24);
    EXPECT_EQ(std::vector<float>(captured.begin(), captured.begin() + 12),
              std::vector<float>(quad_vertices, quad_vertices + 12));
    bool sawTopRight = false;
    for (int v = 3; v < 6; ++v)
        sawTopRight |= captured[v * 4] == 1.0f && captured[v * 4 + 1] == 1.0f;
    EXPECT_TRUE(sawTopRight);
    glDeleteBuffers(1, &feedback);
}

TEST_F(QuadPodTest, BufferHelpersReportGlErrors) {
    EXPECT_EQ(CaptureStdout([] { DeleteBuffer(0); }), "");
    const float data[4] = {1, 2, 3, 4};
    GLuint buffer = 0;
    const std::string out =
        CaptureStdout([&] { buffer = CreateBuffer(data, 16, GL_ARRAY_BUFFER, 0); });
    EXPECT_EQ(out, "VEXO: create buffer error: " + std::to_string(GL_INVALID_ENUM) + "\n");
    EXPECT_NE(buffer, 0u);
    EXPECT_EQ(Integer(GL_ARRAY_BUFFER_BINDING), static_cast<GLint>(buffer));
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    EXPECT_EQ(CaptureStdout([&] { DeleteBuffer(buffer); }), "");
    EXPECT_FALSE(glIsBuffer(buffer));
}

TEST_F(QuadPodTest, AnOutOfMemoryTheDrawReadsIsKeptForTheFrame) {
    // A texture past what llvmpipe gives one allocation: GL refuses it with GL_OUT_OF_MEMORY.
    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 16384, 16384, 0, GL_RGBA, GL_FLOAT, nullptr);
    glBindTexture(GL_TEXTURE_2D, 0);
    // The draw reads GL's error flag for its own reports, and prints what it finds ...
    const std::string out =
        CaptureStdout([&] { RenderQuad(&target_, uv_, {}, 0, A_FloatRect{}, false); });
    EXPECT_NE(out.find(std::to_string(GL_OUT_OF_MEMORY)), std::string::npos) << out;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    // ... but the frame still learns of it, once.
    EXPECT_TRUE(GLOutOfMemorySeen());
    EXPECT_TRUE(TakeGLOutOfMemory());
    EXPECT_FALSE(TakeGLOutOfMemory());
    glDeleteTextures(1, &texture);
}

}  // namespace
