// Uniform and attribute binding against real programs.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "gl/binding.h"
#include "tests/support/gl_test_support.h"
#include "tests/support/gl_toolkit_support.h"

using vexo_test::CaptureStdout;

namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

TEST(UniformBuilders, StoreTheirTagAndComponentsInOrder) {
    // The tag numbers are part of the interface.
    const std::pair<uniform_t, int32_t> tags[] = {{UIVEC(1), 0},
                                                  {IVEC(1), 1},
                                                  {IVEC2({1, 2}), 2},
                                                  {IVEC3({1, 2, 3}), 3},
                                                  {IVEC4({1, 2, 3, 4}), 4},
                                                  {VEC(1), 5},
                                                  {VEC2({1, 2}), 6},
                                                  {VEC3({1, 2, 3}), 7},
                                                  {VEC4({1, 2, 3, 4}), 8},
                                                  {MAT44(Matrix44f{}), 9},
                                                  {TEX1D(1), 10},
                                                  {TEX2D(1), 11}};
    for (const auto& [u, tag] : tags) EXPECT_EQ(u.type, tag);
    EXPECT_EQ(UIVEC(4000000000u).value.u[0], 4000000000u);
    const uniform_t i4 = IVEC4({1, -2, 3, -4});
    EXPECT_EQ(std::vector<int32_t>(i4.value.i, i4.value.i + 4),
              (std::vector<int32_t>{1, -2, 3, -4}));
    const uniform_t f3 = VEC3({0.1f, 0.2f, 0.3f});
    EXPECT_EQ(std::vector<float>(f3.value.f, f3.value.f + 3),
              (std::vector<float>{0.1f, 0.2f, 0.3f}));
    Matrix44f m;
    for (int k = 0; k < 16; ++k) m.m[k] = static_cast<float>(k) * 1.5f;
    const uniform_t mat = MAT44(m);
    EXPECT_TRUE(std::equal(m.m, m.m + 16, mat.value.f));
    EXPECT_EQ(TEX2D(13).value.u[0], 13u);
}

TEST(UniformBuilders, DescriptionShowsEveryStoredComponent) {
    EXPECT_EQ(DescribeUniformValue(UIVEC(3)), "uint 3");
    EXPECT_EQ(DescribeUniformValue(IVEC(-3)), "int -3");
    EXPECT_EQ(DescribeUniformValue(IVEC3({1, 2, 3})), "ivec3 (1, 2, 3)");
    EXPECT_EQ(DescribeUniformValue(VEC2({0.5f, -2})), "vec2 (0.5, -2)");
    EXPECT_EQ(DescribeUniformValue(VEC4({1, 2, 3, 4})), "vec4 (1, 2, 3, 4)");
    EXPECT_EQ(DescribeUniformValue(TEX2D(9)), "texture2D 9");
    EXPECT_EQ(DescribeUniformValue(TEX1D(8)), "texture1D 8");
    Matrix44f m{};
    m.m[15] = 16;
    const std::string mat = DescribeUniformValue(MAT44(m));
    EXPECT_EQ(mat.rfind("mat4 (0, 0,", 0), 0u) << mat;
    EXPECT_NE(mat.find(", 16)"), std::string::npos) << mat;
    uniform_t odd;
    odd.type = 42;
    EXPECT_EQ(DescribeUniformValue(odd), "unknown type 42");
}

TEST(AttributeBuilders, OffsetAndLastAreNotStored) {
    const AttributeType a = make_attrib(3, 2, GL_FLOAT, 8, 0, 0);
    const AttributeType b = make_attrib(3, 2, GL_FLOAT, 8, 0xFFFFFFFFFFull, 77);
    EXPECT_EQ(a.buffer, b.buffer);
    EXPECT_EQ(a.size, b.size);
    EXPECT_EQ(a.type, b.type);
    EXPECT_EQ(a.stride, b.stride);
    GLuint buffer = 21;
    const AttributeType c = CreateAttribute(buffer, 4, GL_INT);
    EXPECT_EQ(buffer, 21u);
    EXPECT_EQ(c.buffer, 21u);
    EXPECT_EQ(c.size, 4);
    EXPECT_EQ(c.type, static_cast<GLenum>(GL_INT));
    EXPECT_EQ(c.stride, 0);
}

const char* const kManyUniformsFragment = R"(#version 330 core
uniform float gain;
uniform int count;
uniform uint mask;
uniform ivec2 cells;
uniform vec3 tint;
uniform vec4 quad;
uniform mat4 xform;
uniform sampler2D first;
uniform sampler2D second;
in vec2 out_uvs;
out vec4 colour;
void main() {
    colour = xform * (texture(first, out_uvs) + texture(second, out_uvs)) * gain
           + vec4(tint, float(count) + float(mask)) + quad + vec4(cells, 0.0, 0.0);
}
)";

class UniformBindingTest : public vexo_test::GLTest {
  protected:
    void SetUp() override {
        GLTest::SetUp();
        if (HasFatalFailure()) return;
        baseline_ = vexo_test::CountLiveGLObjects().total();
    }
    void TearDown() override {
        for (GLuint p : programs_) glDeleteProgram(p);
        if (context()) {
            glUseProgram(0);
            EXPECT_EQ(vexo_test::CountLiveGLObjects().total(), baseline_);
        }
        GLTest::TearDown();
    }
    GLuint Program(const char* fragment, const char* vertex = vexo_test::kQuadVertexSource) {
        const GLuint p = vexo_test::BuildTestProgram(vertex, fragment);
        EXPECT_NE(p, 0u);
        programs_.push_back(p);
        return p;
    }
    GLint Uniform1i(GLuint p, const char* name) {
        GLint v = -99;
        glGetUniformiv(p, glGetUniformLocation(p, name), &v);
        return v;
    }

    std::vector<GLuint> programs_;
    int baseline_ = 0;
};

TEST_F(UniformBindingTest, SetsEveryTypeAndIgnoresExtraEntriesSilently) {
    const GLuint p = Program(kManyUniformsFragment);
    Matrix44f m{};
    for (int k = 0; k < 16; ++k) m.m[k] = static_cast<float>(k + 1);
    const UniformMap uniforms = {
        {"gain", VEC(2.5f)},
        {"count", IVEC(-3)},
        {"mask", UIVEC(3000000000u)},
        {"cells", IVEC2({4, -5})},
        {"tint", VEC3({0.1f, 0.2f, 0.3f})},
        {"quad", VEC4({1, 2, 3, 4})},
        {"xform", MAT44(m)},
        {"first", TEX2D(0)},
        {"second", TEX2D(0)},
        {"notInTheProgram", VEC(9)},
        {"neitherIsThis", TEX2D(5)},
    };
    const std::string out = CaptureStdout([&] { SetProgramUniforms(p, uniforms); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    GLint current = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &current);
    EXPECT_EQ(current, static_cast<GLint>(p));

    GLfloat f[16] = {};
    glGetUniformfv(p, glGetUniformLocation(p, "gain"), f);
    EXPECT_EQ(f[0], 2.5f);
    EXPECT_EQ(Uniform1i(p, "count"), -3);
    GLuint u = 0;
    glGetUniformuiv(p, glGetUniformLocation(p, "mask"), &u);
    EXPECT_EQ(u, 3000000000u);
    GLint i2[2] = {};
    glGetUniformiv(p, glGetUniformLocation(p, "cells"), i2);
    EXPECT_EQ(i2[0], 4);
    EXPECT_EQ(i2[1], -5);
    glGetUniformfv(p, glGetUniformLocation(p, "tint"), f);
    EXPECT_EQ(f[2], 0.3f);
    glGetUniformfv(p, glGetUniformLocation(p, "quad"), f);
    EXPECT_EQ(f[3], 4.0f);
    glGetUniformfv(p, glGetUniformLocation(p, "xform"), f);
    EXPECT_TRUE(std::equal(f, f + 16, m.m));  // column after column, untransposed
}

TEST_F(UniformBindingTest, SamplersGetUnitsOfTheirOwnBoundToTheirTextures) {
    const GLuint p = Program(kManyUniformsFragment);
    GLuint textures[2] = {};
    glGenTextures(2, textures);
    for (GLuint t : textures) {
        glBindTexture(GL_TEXTURE_2D, t);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 1, 1, 0, GL_RGBA, GL_FLOAT, nullptr);
    }
    glBindTexture(GL_TEXTURE_2D, 0);
    UniformMap uniforms = {{"first", TEX2D(textures[0])}, {"second", TEX2D(textures[1])}};
    CaptureStdout([&] { SetProgramUniforms(p, uniforms); });

    const GLint unitFirst = Uniform1i(p, "first"), unitSecond = Uniform1i(p, "second");
    EXPECT_EQ((std::set<GLint>{unitFirst, unitSecond}), (std::set<GLint>{0, 1}));
    for (auto [unit, texture] : {std::pair{unitFirst, textures[0]}, {unitSecond, textures[1]}}) {
        glActiveTexture(GL_TEXTURE0 + unit);
        GLint bound = 0;
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        EXPECT_EQ(bound, static_cast<GLint>(texture)) << "unit " << unit;
        glBindTexture(GL_TEXTURE_2D, 0);
    }
    glActiveTexture(GL_TEXTURE0);
    glDeleteTextures(2, textures);
}

TEST_F(UniformBindingTest, FailedUniformsAreReportedWithTheirValuesAndStillConsumeUnits) {
    const GLuint p = Program(kManyUniformsFragment);
    // Samplers handed to non-integer uniforms: GL refuses each integer call.
    const char* const refused[] = {"gain", "tint", "quad", "xform", "cells"};
    UniformMap uniforms = {{"first", TEX2D(0)}, {"second", TEX2D(0)}};
    for (const char* name : refused) uniforms[name] = TEX2D(0);
    const std::string out = CaptureStdout([&] { SetProgramUniforms(p, uniforms); });
    for (const char* name : refused) {
        const GLint location = glGetUniformLocation(p, name);
        std::ostringstream expected;
        expected << "Uniform Error: " << name << ":" << location << ":" << GL_INVALID_OPERATION
                 << "\nUni Index: " << location << "\nUni Value: texture2D 0\n";
        EXPECT_NE(out.find(expected.str()), std::string::npos) << expected.str() << "in\n" << out;
    }
    // A failed uniform counts as set: only "count" and "mask" are listed as unset.
    const std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 5u * 3u + 4u) << out;
    EXPECT_EQ(lines[15], "Num Uniforms: 9");
    // Seven samplers visited, so units 0 to 6 were handed out whatever the order, and the two
    // real samplers got units of their own.
    GLint active = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    EXPECT_EQ(active, GL_TEXTURE0 + 6);
    EXPECT_NE(Uniform1i(p, "first"), Uniform1i(p, "second"));
    glActiveTexture(GL_TEXTURE0);
}

TEST_F(UniformBindingTest, UnsetUniformsAreListedAfterTheActiveCount) {
    const GLuint p = Program(kManyUniformsFragment);
    UniformMap uniforms = {{"gain", VEC(1)},
                           {"count", IVEC(1)},
                           {"mask", UIVEC(1)},
                           {"cells", IVEC2({1, 1})},
                           {"tint", VEC3({1, 1, 1})},
                           {"quad", VEC4({1, 1, 1, 1})},
                           {"xform", MAT44(Matrix44f{})}};
    const std::string out = CaptureStdout([&] { SetProgramUniforms(p, uniforms); });
    std::vector<std::string> lines = Lines(out);
    ASSERT_EQ(lines.size(), 4u) << out;
    EXPECT_EQ(lines[0], "Num Uniforms: 9");
    EXPECT_EQ(lines[1], "The Following Uniforms are not set:");
    std::sort(lines.begin() + 2, lines.end());
    EXPECT_EQ(lines[2], "first");
    EXPECT_EQ(lines[3], "second");
    EXPECT_EQ(out.back(), '\n');
}

TEST_F(UniformBindingTest, LongUniformNamesAreKnownOnlyByTheirFirst31Characters) {
    const GLuint p = Program(R"(#version 330 core
uniform float aVeryLongUniformNameThatGoesOnAndOn;
in vec2 out_uvs;
out vec4 colour;
void main() { colour = vec4(aVeryLongUniformNameThatGoesOnAndOn); }
)");
    const std::string full = "aVeryLongUniformNameThatGoesOnAndOn";
    const std::string cut = full.substr(0, 31);
    std::string out = CaptureStdout([&] { SetProgramUniforms(p, {{full, VEC(1)}}); });
    EXPECT_EQ(out, "Num Uniforms: 1\nThe Following Uniforms are not set:\n" + cut + "\n");
    out = CaptureStdout([&] { SetProgramUniforms(p, {{cut, VEC(1)}}); });
    EXPECT_EQ(out, "");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(UniformBindingTest, ProgramsWithoutUniformsOrLinkAreReported) {
    const GLuint p = Program(R"(#version 330 core
in vec2 out_uvs;
out vec4 colour;
void main() { colour = vec4(out_uvs, 0.0, 1.0); }
)");
    std::string out = CaptureStdout([&] { SetProgramUniforms(p, {{"x", VEC(1)}}); });
    EXPECT_EQ(out, "No Active Uniforms for prog: " + std::to_string(p) + "\n");

    const GLuint unlinked = glCreateProgram();
    out = CaptureStdout([&] { SetProgramUniforms(unlinked, {}); });
    EXPECT_EQ(out, "Program Not Linked : " + std::to_string(unlinked) +
                       "\nNo Active Uniforms for prog: " + std::to_string(unlinked) + "\n");
    while (glGetError() != GL_NO_ERROR) {
    }
    glDeleteProgram(unlinked);
}

const char* const kTexCoordInVertex = R"(#version 330
in vec4 vertex;
in vec2 texCoordIn;
out vec2 out_uvs;
void main() {
    gl_Position = vertex + vec4(float(gl_VertexID) * 0.0);
    out_uvs = texCoordIn;
}
)";

class AttributeBindingTest : public UniformBindingTest {
  protected:
    GLint Attrib(GLuint vao, GLuint location, GLenum name) {
        GLint v = -99;
        glBindVertexArray(vao);
        glGetVertexAttribiv(location, name, &v);
        glBindVertexArray(0);
        return v;
    }
};

TEST_F(AttributeBindingTest, MatchedAttributesPointAtTheirBuffersAndExtrasAreIgnored) {
    const GLuint p = Program(vexo_test::kUvFragmentSource, kTexCoordInVertex);
    GLuint buffers[2] = {};
    glGenBuffers(2, buffers);
    for (GLuint b : buffers) {
        glBindBuffer(GL_ARRAY_BUFFER, b);
        glBufferData(GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    const AttributeMap attributes = {{"vertex", make_attrib(buffers[0], 4, GL_FLOAT, 16, 0, 0)},
                                     {"tex", make_attrib(buffers[1], 2, GL_FLOAT, 8, 0, 0)},
                                     {"texCoordIn", make_attrib(buffers[1], 2, GL_FLOAT, 8, 0, 0)}};
    const std::string out = CaptureStdout([&] { SetProgramAttributes(vao, p, attributes); });
    EXPECT_EQ(out, "");  // neither "tex" nor gl_VertexID is mentioned
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const GLuint vertex = glGetAttribLocation(p, "vertex");
    const GLuint texCoord = glGetAttribLocation(p, "texCoordIn");
    EXPECT_EQ(Attrib(vao, vertex, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_TRUE);
    EXPECT_EQ(Attrib(vao, vertex, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING),
              static_cast<GLint>(buffers[0]));
    EXPECT_EQ(Attrib(vao, vertex, GL_VERTEX_ATTRIB_ARRAY_SIZE), 4);
    EXPECT_EQ(Attrib(vao, vertex, GL_VERTEX_ATTRIB_ARRAY_STRIDE), 16);
    EXPECT_EQ(Attrib(vao, texCoord, GL_VERTEX_ATTRIB_ARRAY_ENABLED), GL_TRUE);
    EXPECT_EQ(Attrib(vao, texCoord, GL_VERTEX_ATTRIB_ARRAY_BUFFER_BINDING),
              static_cast<GLint>(buffers[1]));
    EXPECT_EQ(Attrib(vao, texCoord, GL_VERTEX_ATTRIB_ARRAY_SIZE), 2);
    EXPECT_EQ(Attrib(vao, texCoord, GL_VERTEX_ATTRIB_ARRAY_NORMALIZED), GL_FALSE);

    GLint bound = -1;
    glGetIntegerv(GL_VERTEX_ARRAY_BINDING, &bound);
    EXPECT_EQ(bound, 0);
    glGetIntegerv(GL_ARRAY_BUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0);
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(2, buffers);
}

TEST_F(AttributeBindingTest, UndescribedAttributesAreListedAndStayDisabled) {
    const GLuint p = Program(vexo_test::kUvFragmentSource, kTexCoordInVertex);
    GLuint buffer = 0, vao = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, 64, nullptr, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glGenVertexArrays(1, &vao);
    const std::string out = CaptureStdout([&] {
        SetProgramAttributes(vao, p,
                             {{"vertex", CreateAttribute(buffer, 4, GL_FLOAT)},
                              {"tex", CreateAttribute(buffer, 2, GL_FLOAT)}});
    });
    EXPECT_EQ(out, "The Following Attributes are not set:\ntexCoordIn\n");
    EXPECT_EQ(Attrib(vao, glGetAttribLocation(p, "texCoordIn"), GL_VERTEX_ATTRIB_ARRAY_ENABLED),
              GL_FALSE);
    glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(1, &buffer);
}

TEST_F(AttributeBindingTest, AProgramWithoutAttributesIsReported) {
    const GLuint p = Program(vexo_test::kUvFragmentSource, R"(#version 330
out vec2 out_uvs;
void main() {
    out_uvs = vec2(0.0);
    gl_Position = vec4(0.0);
}
)");
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    const std::string out = CaptureStdout([&] { SetProgramAttributes(vao, p, {}); });
    EXPECT_EQ(out, "No Active Attribs shader: " + std::to_string(p) + "\n");
    glDeleteVertexArrays(1, &vao);
}

TEST_F(AttributeBindingTest, ABufferGlRefusesIsReported) {
    const GLuint p = Program(vexo_test::kUvFragmentSource, kTexCoordInVertex);
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    const GLuint never = 4000;  // never generated: core profile refuses to bind it
    const std::string out = CaptureStdout([&] {
        SetProgramAttributes(vao, p,
                             {{"vertex", CreateAttribute(never, 4, GL_FLOAT)},
                              {"texCoordIn", CreateAttribute(never, 2, GL_FLOAT)}});
    });
    EXPECT_NE(out.find("Buff:" + std::to_string(GL_INVALID_OPERATION) + "\n"), std::string::npos)
        << out;
    while (glGetError() != GL_NO_ERROR) {
    }
    glDeleteVertexArrays(1, &vao);
}

}  // namespace
