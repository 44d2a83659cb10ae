#include "gl/binding.h"

#include <cstdio>
#include <cstring>
#include <sstream>

#include "gl/diagnostics.h"
#include "gl/gl_errors.h"

namespace {

uniform_t Tagged(int32_t tag) {
    uniform_t u;
    u.type = tag;
    return u;
}

uniform_t Ints(int32_t tag, const int32_t* v, int n) {
    uniform_t u = Tagged(tag);
    for (int k = 0; k < n; ++k) u.value.i[k] = v[k];
    return u;
}

uniform_t Floats(int32_t tag, const float* v, int n) {
    uniform_t u = Tagged(tag);
    for (int k = 0; k < n; ++k) u.value.f[k] = v[k];
    return u;
}

// Name buffer of the active-uniform and active-attribute queries; longer names come back cut.
constexpr GLsizei kNameBuffer = 32;

// Issues the GL call that matches the tag. `unit` is the texture unit a sampler gets.
void ApplyUniform(GLint location, const uniform_t& u, GLint unit) {
    const auto& v = u.value;
    switch (u.type) {
        case kUniformUInt:
            glUniform1ui(location, v.u[0]);
            break;
        case kUniformInt:
            glUniform1i(location, v.i[0]);
            break;
        case kUniformInt2:
            glUniform2i(location, v.i[0], v.i[1]);
            break;
        case kUniformInt3:
            glUniform3i(location, v.i[0], v.i[1], v.i[2]);
            break;
        case kUniformInt4:
            glUniform4i(location, v.i[0], v.i[1], v.i[2], v.i[3]);
            break;
        case kUniformFloat:
            glUniform1f(location, v.f[0]);
            break;
        case kUniformFloat2:
            glUniform2f(location, v.f[0], v.f[1]);
            break;
        case kUniformFloat3:
            glUniform3f(location, v.f[0], v.f[1], v.f[2]);
            break;
        case kUniformFloat4:
            glUniform4f(location, v.f[0], v.f[1], v.f[2], v.f[3]);
            break;
        case kUniformMat44:
            glUniformMatrix4fv(location, 1, GL_FALSE, v.f);
            break;
        case kUniformTex1D:
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_1D, v.u[0]);
            glUniform1i(location, unit);
            break;
        case kUniformTex2D:
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_2D, v.u[0]);
            glUniform1i(location, unit);
            break;
        case kUniformTexRect:
            glActiveTexture(GL_TEXTURE0 + unit);
            glBindTexture(GL_TEXTURE_RECTANGLE, v.u[0]);
            glUniform1i(location, unit);
            break;
        default:
            break;
    }
}

bool IsSampler(const uniform_t& u) {
    return u.type == kUniformTex1D || u.type == kUniformTex2D || u.type == kUniformTexRect;
}

}  // namespace

uniform_t UIVEC(unsigned int v) {
    uniform_t u = Tagged(kUniformUInt);
    u.value.u[0] = v;
    return u;
}
uniform_t IVEC(int v) { return Ints(kUniformInt, &v, 1); }
uniform_t IVEC2(const Vec2i& v) {
    const int32_t c[2] = {v.x, v.y};
    return Ints(kUniformInt2, c, 2);
}
uniform_t IVEC3(const Vec3i& v) {
    const int32_t c[3] = {v.x, v.y, v.z};
    return Ints(kUniformInt3, c, 3);
}
uniform_t IVEC4(const Vec4i& v) {
    const int32_t c[4] = {v.x, v.y, v.z, v.w};
    return Ints(kUniformInt4, c, 4);
}
uniform_t VEC(float v) { return Floats(kUniformFloat, &v, 1); }
uniform_t VEC2(const Vec2f& v) {
    const float c[2] = {v.x, v.y};
    return Floats(kUniformFloat2, c, 2);
}
uniform_t VEC3(const Vec3f& v) {
    const float c[3] = {v.x, v.y, v.z};
    return Floats(kUniformFloat3, c, 3);
}
uniform_t VEC4(const Vec4f& v) {
    const float c[4] = {v.x, v.y, v.z, v.w};
    return Floats(kUniformFloat4, c, 4);
}
uniform_t MAT44(const Matrix44f& m) { return Floats(kUniformMat44, m.m, 16); }
uniform_t TEX1D(unsigned int texture) {
    uniform_t u = Tagged(kUniformTex1D);
    u.value.u[0] = texture;
    return u;
}
uniform_t TEX2D(unsigned int texture) {
    uniform_t u = Tagged(kUniformTex2D);
    u.value.u[0] = texture;
    return u;
}
uniform_t TEXRECT(unsigned int texture) {
    uniform_t u = Tagged(kUniformTexRect);
    u.value.u[0] = texture;
    return u;
}

std::string DescribeUniformValue(const uniform_t& u) {
    std::ostringstream out;
    const auto& v = u.value;
    auto ints = [&](const char* label, int n) {
        out << label << " (";
        for (int k = 0; k < n; ++k) out << (k ? ", " : "") << v.i[k];
        out << ")";
    };
    auto floats = [&](const char* label, int n) {
        out << label << " (";
        for (int k = 0; k < n; ++k) out << (k ? ", " : "") << v.f[k];
        out << ")";
    };
    switch (u.type) {
        case kUniformUInt:
            out << "uint " << v.u[0];
            break;
        case kUniformInt:
            out << "int " << v.i[0];
            break;
        case kUniformInt2:
            ints("ivec2", 2);
            break;
        case kUniformInt3:
            ints("ivec3", 3);
            break;
        case kUniformInt4:
            ints("ivec4", 4);
            break;
        case kUniformFloat:
            out << "float " << v.f[0];
            break;
        case kUniformFloat2:
            floats("vec2", 2);
            break;
        case kUniformFloat3:
            floats("vec3", 3);
            break;
        case kUniformFloat4:
            floats("vec4", 4);
            break;
        case kUniformMat44:
            floats("mat4", 16);
            break;
        case kUniformTex1D:
            out << "texture1D " << v.u[0];
            break;
        case kUniformTex2D:
            out << "texture2D " << v.u[0];
            break;
        case kUniformTexRect:
            out << "textureRect " << v.u[0];
            break;
        default:
            out << "unknown type " << u.type;
            break;
    }
    return out.str();
}

AttributeType make_attrib(GLuint buffer, GLint size, GLenum type, GLsizei stride, uint64_t offset,
                          uint32_t last) {
    (void)offset;
    (void)last;
    return AttributeType{buffer, size, type, stride};
}

AttributeType CreateAttribute(const GLuint& buffer, GLint size, GLenum type) {
    return AttributeType{buffer, size, type, 0};
}

void SetProgramUniforms(GLuint program, const UniformMap& uniforms) {
    GLint linked = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &linked);
    if (linked != GL_TRUE) Diagnostic("Program Not Linked : %u\n", program);

    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_UNIFORMS, &count);
    std::unordered_map<std::string, GLint> pending;
    if (count < 1) {
        Diagnostic("No Active Uniforms for prog: %u\n", program);
    } else {
        for (GLint index = 0; index < count; ++index) {
            char name[kNameBuffer] = {};
            GLsizei length = 0;
            GLint size = 0;
            GLenum type = 0;
            glGetActiveUniform(program, static_cast<GLuint>(index), kNameBuffer, &length, &size,
                               &type, name);
            pending[name] = glGetUniformLocation(program, name);
        }
    }

    glUseProgram(program);
    GLint unit = 0;
    for (auto it = pending.begin(); it != pending.end();) {
        const auto found = uniforms.find(it->first);
        if (found == uniforms.end()) {
            ++it;
            continue;
        }
        const uniform_t& value = found->second;
        ApplyUniform(it->second, value, unit);
        const GLenum error = ReadGLError();
        if (error != GL_NO_ERROR) {
            Diagnostic("Uniform Error: %s:%d:%u\n", it->first.c_str(), it->second, error);
            Diagnostic("Uni Index: %d\n", it->second);
            Diagnostic("Uni Value: %s\n", DescribeUniformValue(value).c_str());
        }
        // A sampler keeps its unit even when GL refused it, so later samplers never share one.
        if (IsSampler(value)) ++unit;
        it = pending.erase(it);
    }

    if (!pending.empty()) {
        Diagnostic("Num Uniforms: %d\n", count);
        Diagnostic("The Following Uniforms are not set:\n");
        for (const auto& entry : pending) Diagnostic("%s\n", entry.first.c_str());
    }
}

void SetProgramAttributes(GLuint vao, GLuint program, const AttributeMap& attributes) {
    GLint count = 0;
    glGetProgramiv(program, GL_ACTIVE_ATTRIBUTES, &count);
    GLenum error = ReadGLError();
    if (error != GL_NO_ERROR) Diagnostic("Active Attrib Error: %x\n", error);
    if (count < 1) Diagnostic("No Active Attribs shader: %u\n", program);

    std::unordered_map<std::string, GLuint> pending;
    for (GLint index = 0; index < count; ++index) {
        char name[kNameBuffer] = {};
        GLsizei length = 0;
        GLint size = 0;
        GLenum type = 0;
        glGetActiveAttrib(program, static_cast<GLuint>(index), kNameBuffer, &length, &size, &type,
                          name);
        if (std::strncmp(name, "gl_", 3) == 0) continue;
        const GLint location = glGetAttribLocation(program, name);
        if (location != -1) pending[name] = static_cast<GLuint>(location);
        error = ReadGLError();
        if (error != GL_NO_ERROR) Diagnostic("Attrib Location:%s%u\n", name, error);
    }

    glBindVertexArray(vao);
    for (auto it = pending.begin(); it != pending.end();) {
        const auto found = attributes.find(it->first);
        if (found == attributes.end()) {
            ++it;
            continue;
        }
        const AttributeType& attribute = found->second;
        glBindBuffer(GL_ARRAY_BUFFER, attribute.buffer);
        error = ReadGLError();
        if (error != GL_NO_ERROR) Diagnostic("Buff:%u\n", error);
        glVertexAttribPointer(it->second, attribute.size, attribute.type, GL_FALSE,
                              attribute.stride, nullptr);
        glEnableVertexAttribArray(it->second);
        error = ReadGLError();
        if (error != GL_NO_ERROR) Diagnostic(" Vertex Attrib: %u\n", error);
        it = pending.erase(it);
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glBindVertexArray(0);

    if (!pending.empty()) {
        Diagnostic("The Following Attributes are not set:\n");
        for (const auto& entry : pending) Diagnostic("%s\n", entry.first.c_str());
    }
}
