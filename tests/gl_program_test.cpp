// Program building from texts and files, the six programs of a context, and their interfaces.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

#include "context/render_data.h"
#include "gl/program.h"
#include "shaders/shaders.h"
#include "tests/support/gl_test_support.h"

namespace {

using vexo_test::CaptureStdout;
using vexo_test::CountLiveGLObjects;
using vexo_test::Describe;

uint64_t Word(const char* text) { return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(text)); }

int Count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

const char* kVertex =
    "#version 330 core\nin vec4 vertex;\nout vec2 uv;\n"
    "void main() { gl_Position = vertex; uv = vertex.xy; }\n";
const char* kFragment =
    "#version 330 core\nin vec2 uv;\nout vec4 c;\n"
    "void main() { c = vec4(uv, 0.0, 1.0); }\n";
const char* kBroken = "#version 330 core\nvoid main() { this is not glsl }\n";

class ProgramTest : public vexo_test::GLTest {
  protected:
    void TearDown() override {
        glUseProgram(0);
        EXPECT_EQ(CountLiveGLObjects().total(), 0) << Describe(CountLiveGLObjects());
        vexo_test::GLTest::TearDown();
    }
    static GLint LinkStatus(GLuint program) {
        GLint status = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &status);
        return status;
    }
};

TEST_F(ProgramTest, LinksStagesAndKeepsOnlyTheProgram) {
    const uint64_t list[] = {GL_VERTEX_SHADER, Word(kVertex), GL_FRAGMENT_SHADER, Word(kFragment),
                             0};
    uint32_t program = 0;
    EXPECT_EQ(CaptureStdout([&] { program = CreateProgram(list, ""); }), "");
    ASSERT_NE(program, 0u);
    EXPECT_EQ(LinkStatus(program), GL_TRUE);
    const auto live = CountLiveGLObjects();
    EXPECT_EQ(live.programs, 1);
    EXPECT_EQ(live.shaders, 0);

    DeleteProgram(&program);
    EXPECT_EQ(program, 0u);
    DeleteProgram(&program);  // harmless again
    DeleteProgram(nullptr);
}

TEST_F(ProgramTest, EmptyListFailsToLinkAndLeavesNothing) {
    const uint64_t list[] = {0, GL_VERTEX_SHADER, Word(kVertex)};
    uint32_t program = 1;
    const std::string out = CaptureStdout([&] { program = CreateProgram(list, ""); });
    EXPECT_EQ(program, 0u);
    EXPECT_TRUE(StartsWith(out, "Link Program Failed - ")) << out;
    EXPECT_EQ(Count(out, "Compile Shader Failed"), 0);
}

TEST_F(ProgramTest, AStageThatFailsIsLeftOutOfTheLink) {
    // The vertex stage alone links in a core profile.
    const uint64_t list[] = {GL_VERTEX_SHADER, Word(kVertex), GL_FRAGMENT_SHADER, Word(kBroken), 0};
    uint32_t program = 0;
    const std::string out = CaptureStdout([&] { program = CreateProgram(list, ""); });
    EXPECT_TRUE(StartsWith(out, "Compile Shader Failed - ")) << out;
    EXPECT_EQ(Count(out, "Compile Shader Failed - "), 1) << out;
    EXPECT_EQ(Count(out, "Link Program Failed"), 0) << out;
    ASSERT_NE(program, 0u);
    EXPECT_EQ(LinkStatus(program), GL_TRUE);
    GLint attached = -1;
    glGetProgramiv(program, GL_ATTACHED_SHADERS, &attached);
    EXPECT_EQ(attached, 0);
    // The failed shader was released too (checked by the fixture once the program is gone).
    EXPECT_EQ(CountLiveGLObjects().shaders, 0);
    DeleteProgram(&program);
}

TEST_F(ProgramTest, AFailedLinkReleasesProgramAndShaders) {
    // Both stages compile; the interface between them does not match.
    const char* fragment =
        "#version 330 core\nin vec3 uv;\nout vec4 c;\n"
        "void main() { c = vec4(uv, 1.0); }\n";
    const uint64_t list[] = {GL_VERTEX_SHADER, Word(kVertex), GL_FRAGMENT_SHADER, Word(fragment),
                             0};
    uint32_t program = 1;
    const std::string out = CaptureStdout([&] { program = CreateProgram(list, ""); });
    EXPECT_EQ(program, 0u);
    EXPECT_TRUE(StartsWith(out, "Link Program Failed - ")) << out;
    EXPECT_EQ(Count(out, "Compile Shader Failed"), 0) << out;
    // The log is cut to the 256-character buffer.
    EXPECT_LE(out.size(), std::string("Link Program Failed - \n").size() + 255);
}

TEST_F(ProgramTest, HeaderGoesInFrontOfEveryStage) {
    const char* vertex = "in vec4 vertex;\nvoid main() { gl_Position = vertex; }\n";
    const char* fragment = "out vec4 c;\nvoid main() { c = vec4(1.0); }\n";
    const char* geometry =
        "layout(triangles) in;\nlayout(triangle_strip, max_vertices = 3) out;\n"
        "void main() { for (int i = 0; i < 3; ++i) {\n"
        "gl_Position = gl_in[i].gl_Position; EmitVertex(); } }\n";
    // Entries that are neither a stage type nor 0 are skipped.
    const uint64_t list[] = {12345,          GL_VERTEX_SHADER,   Word(vertex),   GL_GEOMETRY_SHADER,
                             Word(geometry), GL_FRAGMENT_SHADER, Word(fragment), 0};
    uint32_t program = 0;
    EXPECT_EQ(CaptureStdout([&] { program = CreateProgram(list, "#version 330 core\n"); }), "");
    ASSERT_NE(program, 0u);
    GLint stages = 0;
    glGetProgramiv(program, GL_GEOMETRY_VERTICES_OUT, &stages);
    EXPECT_EQ(stages, 3);
    DeleteProgram(&program);

    // Without the header those texts have no version line, which a core profile refuses.
    const std::string out = CaptureStdout([&] { program = CreateProgram(list + 1, ""); });
    EXPECT_EQ(Count(out, "Compile Shader Failed - "), 3) << out;
    EXPECT_EQ(program, 0u);
}

TEST_F(ProgramTest, StageTypeWithoutASourceEndsTheList) {
    const uint64_t list[] = {GL_VERTEX_SHADER, Word(kVertex), GL_FRAGMENT_SHADER, 0};
    uint32_t program = 0;
    EXPECT_EQ(CaptureStdout([&] { program = CreateProgram(list, ""); }), "");
    EXPECT_NE(program, 0u);
    DeleteProgram(&program);
}

TEST_F(ProgramTest, ReportsAPendingGLErrorAfterLinking) {
    const uint64_t list[] = {GL_VERTEX_SHADER, Word(kVertex), GL_FRAGMENT_SHADER, Word(kFragment),
                             0};
    glEnable(0xFFFF);  // leaves GL_INVALID_ENUM pending
    uint32_t program = 0;
    EXPECT_EQ(CaptureStdout([&] { program = CreateProgram(list, ""); }), "Prog Error: 1280\n");
    EXPECT_NE(program, 0u);
    DeleteProgram(&program);
}

TEST_F(ProgramTest, CheckOpenGLErrorPrintsTheFirstPendingError) {
    EXPECT_EQ(CaptureStdout([] { CheckOpenGLError("nothing", "file.cpp", 1); }), "");

    glBindTexture(0xFFFF, 0);  // GL_INVALID_ENUM
    EXPECT_EQ(CaptureStdout([] { CheckOpenGLError("binding", "file.cpp", 42); }),
              "OpenGL error 00000500, at file.cpp:42 - for binding\n\n");
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Long texts are written whole.
    const std::string file(3000, 'f');
    const std::string what(3000, 'w');
    glBindTexture(0xFFFF, 0);
    EXPECT_EQ(CaptureStdout([&] { CheckOpenGLError(what.c_str(), file.c_str(), 7); }),
              "OpenGL error 00000500, at " + file + ":7 - for " + what + "\n\n");
}

std::string TempPath(const char* name) {
    return testing::TempDir() + "vexo_program_test_" + std::to_string(getpid()) + "_" + name;
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(LoadShader, KeepsEveryLineWithANewline) {
    const std::string path = TempPath("lines.txt");
    WriteFile(path, "first\nsecond\n");
    EXPECT_EQ(LoadShader(path), "first\nsecond\n\n");
    WriteFile(path, "first\nsecond");
    EXPECT_EQ(LoadShader(path), "first\nsecond\n");
    WriteFile(path, "");
    EXPECT_EQ(LoadShader(path), "\n");
    std::remove(path.c_str());

    std::string missing;
    EXPECT_EQ(CaptureStdout([&] { missing = LoadShader(path); }), "");
    EXPECT_EQ(missing, "");
}

TEST_F(ProgramTest, InitShaderFromFiles) {
    const std::string vertex = TempPath("shader.vert");
    const std::string fragment = TempPath("shader.frag");
    WriteFile(vertex, kVertex);
    WriteFile(fragment, kFragment);
    uint32_t program = 0;
    EXPECT_EQ(CaptureStdout([&] { program = AESDK_OpenGL_InitShader(vertex, fragment); }), "");
    ASSERT_NE(program, 0u);
    EXPECT_EQ(LinkStatus(program), GL_TRUE);
    EXPECT_EQ(CountLiveGLObjects().shaders, 0);
    DeleteProgram(&program);
    std::remove(vertex.c_str());
    std::remove(fragment.c_str());
}

TEST_F(ProgramTest, InitShaderWithMissingFilesStillGivesAProgram) {
    uint32_t program = 0;
    const std::string out = CaptureStdout(
        [&] { program = AESDK_OpenGL_InitShader(TempPath("none.vert"), TempPath("none.frag")); });
    const size_t vertex = out.find("ERROR::SHADER::VERTEX::COMPILATION_FAILED\n");
    const size_t fragment = out.find("ERROR::SHADER::FRAG::COMPILATION_FAILED\n");
    const size_t link = out.find("ERROR::PROGRAM::COMPILATION_FAILED\n");
    EXPECT_EQ(vertex, 0u) << out;
    ASSERT_NE(fragment, std::string::npos) << out;
    ASSERT_NE(link, std::string::npos) << out;
    EXPECT_LT(vertex, fragment);
    EXPECT_LT(fragment, link);
    EXPECT_EQ(out.back(), '\n');
    ASSERT_NE(program, 0u);
    EXPECT_EQ(LinkStatus(program), GL_FALSE);
    EXPECT_EQ(CountLiveGLObjects().shaders, 0);
    DeleteProgram(&program);
}

// ---- The effect's own programs.

TEST(ShaderTexts, CarryTheirVersionLines) {
    for (const char* text : {vert, vertIdentity})
        EXPECT_TRUE(StartsWith(text, "#version 330\n")) << text;
    for (const char* text : {swizzleIn, displace, blurW, blurH, bicubic, oversample})
        EXPECT_TRUE(StartsWith(text, "#version 330 core\n")) << text;
}

// name -> GL type
using Interface = std::map<std::string, GLenum>;

Interface ActiveUniforms(GLuint program) {
    Interface found;
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[128] = {};
        GLint size = 0;
        GLenum type = 0;
        glGetActiveUniform(program, i, sizeof(name), nullptr, &size, &type, name);
        found[name] = type;
    }
    return found;
}

Interface ActiveAttributes(GLuint program) {
    Interface found;
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_ATTRIBUTES, &count);
    for (GLint i = 0; i < count; ++i) {
        char name[128] = {};
        GLint size = 0;
        GLenum type = 0;
        glGetActiveAttrib(program, i, sizeof(name), nullptr, &size, &type, name);
        found[name] = type;
    }
    return found;
}

TEST_F(ProgramTest, TheSixProgramsLinkWithTheirInterfaces) {
    GLPrograms programs{};
    EXPECT_EQ(CaptureStdout([&] { CreateGLPrograms(&programs); }), "");

    // Programs that find their pixel by its place leave the quad's texture coordinates unread.
    const Interface placed = {{"vertex", GL_FLOAT_VEC4}};
    // The blur reads pairs of texels at places on the frame's grid; the edge mode's own reads
    // are in the programs made for repeating edge modes.
    const Interface blurH = {{"videoTexture", GL_SAMPLER_2D_RECT},
                             {"kernel[0]", GL_FLOAT_VEC2},
                             {"kernelPairs", GL_INT}};
    Interface blurW = blurH;
    blurW["gridOrigin"] = GL_INT_VEC2;
    blurW["srcOrigin"] = GL_INT_VEC2;
    blurW["channelL"] = GL_INT;
    struct Expected {
        const char* name;
        GLuint program;
        Interface uniforms;
        const char* output;
        Interface attributes;
    };
    const Expected expected[] = {
        {"swizzleIn",
         programs.swizzleInProgram,
         {{"xform", GL_FLOAT_MAT4},
          {"videoTexture", GL_SAMPLER_2D_RECT},
          {"premultB", GL_INT},
          {"texelOrigin", GL_INT_VEC2},
          {"channelL", GL_INT}},
         "colourOut",
         placed},
        {"displace",
         programs.displaceProgram,
         {{"inTex", GL_SAMPLER_2D_RECT},
          {"displaceTex", GL_SAMPLER_2D_RECT},
          {"usingAuxTex", GL_INT},
          {"srcL", GL_INT},
          {"invert", GL_INT},
          {"offsetF", GL_FLOAT},
          {"easingL", GL_INT},
          {"gammaF", GL_FLOAT},
          {"translateX", GL_FLOAT},
          {"translateY", GL_FLOAT},
          {"rot", GL_FLOAT},
          {"pixelStretch", GL_FLOAT},
          {"scaleX", GL_FLOAT},
          {"scaleY", GL_FLOAT},
          {"anchorX", GL_FLOAT},
          {"anchorY", GL_FLOAT},
          {"resV", GL_FLOAT_VEC2},
          {"usingCA", GL_INT},
          {"redMult", GL_FLOAT},
          {"greenMult", GL_FLOAT},
          {"blueMult", GL_FLOAT},
          {"dstL", GL_INT},
          {"gridOrigin", GL_INT_VEC2},
          {"gridSize", GL_FLOAT_VEC2},
          {"inBytes", GL_INT},
          {"inOrigin", GL_INT_VEC2},
          {"mapFetchL", GL_INT},
          {"mapCells", GL_FLOAT},
          {"mapOrigin", GL_INT_VEC2},
          {"perPixel", GL_INT},
          {"wrapL", GL_INT}},
         "FragColor",
         placed},
        {"blurW", programs.blurWProgram, blurW, "FragColour", placed},
        {"blurH", programs.blurHProgram, blurH, "FragColour", placed},
        {"bicubic",
         programs.bicubicProgram,
         {{"inTex", GL_SAMPLER_2D},
          {"gridOrigin", GL_INT_VEC2},
          {"gridSize", GL_FLOAT_VEC2},
          {"inPlace", GL_FLOAT_VEC4}},
         "FragColor",
         placed},
        {"oversample",
         programs.oversampleProgram,
         {{"inTex", GL_SAMPLER_2D},
          {"octave", GL_FLOAT},
          {"gridOrigin", GL_INT_VEC2},
          {"sampleOrigin", GL_INT_VEC2}},
         "FragColor",
         placed},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        ASSERT_NE(e.program, 0u);
        EXPECT_EQ(LinkStatus(e.program), GL_TRUE);
        EXPECT_EQ(ActiveUniforms(e.program), e.uniforms);
        EXPECT_EQ(ActiveAttributes(e.program), e.attributes);
        EXPECT_EQ(glGetFragDataLocation(e.program, e.output), 0);
    }
    EXPECT_EQ(CountLiveGLObjects().programs, 6);
    EXPECT_EQ(CountLiveGLObjects().shaders, 0);

    DeleteGLPrograms(&programs);
    EXPECT_EQ(programs.swizzleInProgram, 0u);
    EXPECT_EQ(programs.displaceProgram, 0u);
    EXPECT_EQ(programs.blurWProgram, 0u);
    EXPECT_EQ(programs.blurHProgram, 0u);
    EXPECT_EQ(programs.bicubicProgram, 0u);
    EXPECT_EQ(programs.oversampleProgram, 0u);
    // All slots 0 now: deleting again does nothing.
    DeleteGLPrograms(&programs);
    DeleteGLPrograms(nullptr);
}

TEST_F(ProgramTest, CreatingIntoNothingBuildsNoProgram) {
    CreateGLPrograms(nullptr);
    EXPECT_EQ(CountLiveGLObjects().total(), 0);
}

// A colour multiplier of 0 gives that channel a map value of exactly 0; at scale 100 % its scale
// factor is then the limit 1 (not 0/0), so the channel samples the undisplaced input.
TEST_F(ProgramTest, DisplaceWithAZeroMultiplierAtFullScaleSamplesInPlace) {
    GLPrograms programs{};
    CreateGLPrograms(&programs);
    const GLuint program = programs.displaceProgram;
    ASSERT_NE(program, 0u);

    // 2x2 input, red/green/blue/alpha order, each pixel different.
    const float input[16] = {0.1f, 0.2f, 0.3f, 1.0f, 0.4f, 0.5f, 0.6f, 1.0f,
                             0.7f, 0.8f, 0.9f, 1.0f, 0.2f, 0.4f, 0.6f, 0.8f};
    GLuint textures[2] = {};
    glGenTextures(2, textures);
    glBindTexture(GL_TEXTURE_RECTANGLE, textures[0]);
    glTexImage2D(GL_TEXTURE_RECTANGLE, 0, GL_RGBA32F, 2, 2, 0, GL_RGBA, GL_FLOAT, input);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_RECTANGLE, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glBindTexture(GL_TEXTURE_RECTANGLE, 0);
    glBindTexture(GL_TEXTURE_2D, textures[1]);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, 2, 2, 0, GL_RGBA, GL_FLOAT, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    GLuint framebuffer = 0;
    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textures[1], 0);
    ASSERT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER),
              static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    glViewport(0, 0, 2, 2);

    glUseProgram(program);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_RECTANGLE, textures[0]);
    glUniform1i(glGetUniformLocation(program, "inTex"), 0);
    glUniform1i(glGetUniformLocation(program, "displaceTex"), 0);
    glUniform1i(glGetUniformLocation(program, "usingAuxTex"), 0);
    glUniform1i(glGetUniformLocation(program, "srcL"), 1);
    glUniform1i(glGetUniformLocation(program, "easingL"), 1);
    glUniform1f(glGetUniformLocation(program, "gammaF"), 1.0f);
    glUniform1f(glGetUniformLocation(program, "translateX"), 0.5f);
    glUniform1f(glGetUniformLocation(program, "translateY"), 0.5f);
    glUniform1f(glGetUniformLocation(program, "scaleX"), 1.0f);
    glUniform1f(glGetUniformLocation(program, "scaleY"), 1.0f);
    glUniform1f(glGetUniformLocation(program, "anchorX"), 0.5f);
    glUniform1f(glGetUniformLocation(program, "anchorY"), 0.5f);
    glUniform2f(glGetUniformLocation(program, "resV"), 2.0f, 2.0f);
    glUniform1i(glGetUniformLocation(program, "usingCA"), 1);
    glUniform1f(glGetUniformLocation(program, "redMult"), 0.0f);
    glUniform1f(glGetUniformLocation(program, "greenMult"), 0.0f);
    glUniform1f(glGetUniformLocation(program, "blueMult"), 0.0f);
    glUniform1i(glGetUniformLocation(program, "dstL"), 2);
    glUniform2f(glGetUniformLocation(program, "gridSize"), 2.0f, 2.0f);

    // Full-frame quad: clip-space corners with texture coordinates 0 to 1.
    const float quad[] = {-1, -1, 0, 1, 0, 0, 1, -1, 0, 1, 1, 0,
                          -1, 1,  0, 1, 0, 1, 1, 1,  0, 1, 1, 1};
    GLuint vertex_array = 0, buffer = 0;
    glGenVertexArrays(1, &vertex_array);
    glBindVertexArray(vertex_array);
    glGenBuffers(1, &buffer);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof(quad), quad, GL_STATIC_DRAW);
    const GLint vertex = glGetAttribLocation(program, "vertex");
    const GLint tex = glGetAttribLocation(program, "tex");
    glEnableVertexAttribArray(vertex);
    glVertexAttribPointer(vertex, 4, GL_FLOAT, GL_FALSE, 6 * sizeof(float), nullptr);
    glEnableVertexAttribArray(tex);
    glVertexAttribPointer(tex, 2, GL_FLOAT, GL_FALSE, 6 * sizeof(float),
                          reinterpret_cast<const void*>(4 * sizeof(float)));
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);

    float output[16] = {};
    glReadPixels(0, 0, 2, 2, GL_RGBA, GL_FLOAT, output);
    for (int pixel = 0; pixel < 4; ++pixel) {
        const float* in = input + pixel * 4;
        const float* out = output + pixel * 4;
        // Host order: alpha, red, green, blue, all sampled where they stand.
        EXPECT_FLOAT_EQ(out[0], in[3]) << pixel;
        EXPECT_FLOAT_EQ(out[1], in[0]) << pixel;
        EXPECT_FLOAT_EQ(out[2], in[1]) << pixel;
        EXPECT_FLOAT_EQ(out[3], in[2]) << pixel;
    }

    glUseProgram(0);
    glBindVertexArray(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDeleteBuffers(1, &buffer);
    glDeleteVertexArrays(1, &vertex_array);
    glDeleteFramebuffers(1, &framebuffer);
    glDeleteTextures(2, textures);
    DeleteGLPrograms(&programs);
}

}  // namespace
