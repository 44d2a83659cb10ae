// Named uniform and attribute maps, pushed into a program just before a draw. Render code fills
// the maps; only this layer calls glUniform* and glVertexAttribPointer.
#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <string>
#include <unordered_map>

struct Vec2i {
    int32_t x, y;
};
struct Vec3i {
    int32_t x, y, z;
};
// Also carries viewports: x, y, width (z), height (w).
struct Vec4i {
    int32_t x, y, z, w;
};
struct Vec2f {
    float x, y;
};
struct Vec3f {
    float x, y, z;
};
struct Vec4f {
    float x, y, z, w;
};
// Column after column, the order GL reads without transposition.
struct Matrix44f {
    float m[16];
};

// Type tags of uniform_t; the numbers are part of the interface.
enum UniformTag : int32_t {
    kUniformUInt = 0,
    kUniformInt = 1,
    kUniformInt2 = 2,
    kUniformInt3 = 3,
    kUniformInt4 = 4,
    kUniformFloat = 5,
    kUniformFloat2 = 6,
    kUniformFloat3 = 7,
    kUniformFloat4 = 8,
    kUniformMat44 = 9,
    kUniformTex1D = 10,
    kUniformTex2D = 11,
    kUniformTexRect = 12,  // a rectangle texture: sampled at texel positions
};

// A tagged value; `value` is read according to `type`. A default value carries no valid tag
// and sets nothing.
struct uniform_t {
    int32_t type = -1;
    union {
        uint32_t u[16];
        int32_t i[16];
        float f[16];
    } value = {};
};

using UniformMap = std::unordered_map<std::string, uniform_t>;

uniform_t UIVEC(unsigned int v);
uniform_t IVEC(int v);
uniform_t IVEC2(const Vec2i& v);
uniform_t IVEC3(const Vec3i& v);
uniform_t IVEC4(const Vec4i& v);
uniform_t VEC(float v);
uniform_t VEC2(const Vec2f& v);
uniform_t VEC3(const Vec3f& v);
uniform_t VEC4(const Vec4f& v);
uniform_t MAT44(const Matrix44f& m);
uniform_t TEX1D(unsigned int texture);
uniform_t TEX2D(unsigned int texture);
uniform_t TEXRECT(unsigned int texture);

// Readable form of a stored value, as the uniform error report prints it.
std::string DescribeUniformValue(const uniform_t& u);

// One vertex input: data starts at byte 0 of `buffer` and is never normalized.
struct AttributeType {
    GLuint buffer;
    GLint size;
    GLenum type;
    GLsizei stride;  // 0: tightly packed
};

using AttributeMap = std::unordered_map<std::string, AttributeType>;

// `offset` and `last` are accepted for call-site compatibility and not stored.
AttributeType make_attrib(GLuint buffer, GLint size, GLenum type, GLsizei stride, uint64_t offset,
                          uint32_t last);
AttributeType CreateAttribute(const GLuint& buffer, GLint size, GLenum type);

// Sets every active uniform of `program` that has an entry in `uniforms`, handing texture units
// out from 0 in visiting order, and reports active uniforms left without a value. Leaves the
// program in use.
void SetProgramUniforms(GLuint program, const UniformMap& uniforms);

// Points every active attribute of `program` that has an entry in `attributes` at its buffer,
// recording the setup in `vao`, and reports attributes left without a description. Leaves the
// vertex array object and GL_ARRAY_BUFFER unbound.
void SetProgramAttributes(GLuint vao, GLuint program, const AttributeMap& attributes);
