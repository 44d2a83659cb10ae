#include "gl/pod.h"

#include <cstdio>

#include "gl/diagnostics.h"
#include "gl/gl_errors.h"

const float quad_vertices[16] = {
    -1.0f, -1.0f, 0.0f, 1.0f,  //
    1.0f,  -1.0f, 0.0f, 1.0f,  //
    -1.0f, 1.0f,  0.0f, 1.0f,  //
    1.0f,  1.0f,  0.0f, 1.0f,
};

const float quad_tex[8] = {
    0.0f, 0.0f,  //
    1.0f, 0.0f,  //
    0.0f, 1.0f,  //
    1.0f, 1.0f,
};

namespace {

void QuadTexCoords(uint8_t useRect, const A_FloatRect& rect, float out[8]) {
    if (!useRect) {
        for (int k = 0; k < 8; ++k) out[k] = quad_tex[k];
        return;
    }
    const float left = static_cast<float>(rect.left);
    const float top = static_cast<float>(rect.top);
    const float right = static_cast<float>(rect.right);
    const float bottom = static_cast<float>(rect.bottom);
    const float coords[8] = {left, top, right, top, left, bottom, right, bottom};
    for (int k = 0; k < 8; ++k) out[k] = coords[k];
}

}  // namespace

GLuint CreateBuffer(const void* data, uint32_t size, uint32_t target, uint32_t usage) {
    GLuint buffer = 0;
    glGenBuffers(1, &buffer);
    glBindBuffer(target, buffer);
    glBufferData(target, static_cast<GLsizeiptr>(size), data, usage);
    const GLenum error = ReadGLError();
    if (error != GL_NO_ERROR) Diagnostic("VEXO: create buffer error: %u\n", error);
    return buffer;
}

void DeleteBuffer(GLuint buffer) {
    if (buffer == 0) return;
    glDeleteBuffers(1, &buffer);
    const GLenum error = ReadGLError();
    if (error != GL_NO_ERROR) Diagnostic(" Delete Buffer Error: %u\n", error);
}

void ClearAttribBuffers(AttributeMap& attributes) {
    for (const auto& entry : attributes) DeleteBuffer(entry.second.buffer);
    attributes.clear();
}

GL_Pod CreateQuadFromVertices(GLuint program, const UniformMap& uniforms, const float* vertices,
                              const float* texCoords) {
    GL_Pod pod;
    pod.params[PodParam::mode] = GL_TRIANGLE_STRIP;
    pod.params[PodParam::count] = 4;
    pod.params[PodParam::instances] = 1;
    pod.params[PodParam::program] = program;

    pod.buffers.resize(2);
    pod.buffers[0] = CreateBuffer(vertices, 16 * sizeof(float), GL_ARRAY_BUFFER, GL_STATIC_DRAW);
    pod.buffers[1] = CreateBuffer(texCoords, 8 * sizeof(float), GL_ARRAY_BUFFER, GL_STATIC_DRAW);

    pod.uniforms = uniforms;
    pod.attributes["vertex"] = make_attrib(pod.buffers[0], 4, GL_FLOAT, 16, 0, 0);
    pod.attributes["tex"] = make_attrib(pod.buffers[1], 2, GL_FLOAT, 8, 0, 0);
    pod.attributes["texCoordIn"] = pod.attributes["tex"];
    return pod;
}

GL_Pod CreateQuad(GLuint program, const UniformMap& uniforms, uint8_t useRect,
                  const A_FloatRect& rect) {
    float texCoords[8];
    QuadTexCoords(useRect, rect, texCoords);
    return CreateQuadFromVertices(program, uniforms, quad_vertices, texCoords);
}

void RenderGeneric(const Vec4i& viewport, const PodParams& params, GLuint vao, GLuint fbo,
                   GLuint program) {
    const GLenum mode = params[PodParam::mode];
    const GLsizei count = static_cast<GLsizei>(params[PodParam::count]);
    const GLsizei instances = static_cast<GLsizei>(params[PodParam::instances]);
    const bool culling = params[PodParam::cullFace] != 0;
    const bool restart = params[PodParam::restartIndex] != 0;
    const bool feedback = params[PodParam::feedbackBuffer] != 0;

    if (culling) {
        glEnable(GL_CULL_FACE);
        glCullFace(params[PodParam::cullFace]);
    }
    if (restart) {
        glEnable(GL_PRIMITIVE_RESTART);
        glPrimitiveRestartIndex(params[PodParam::restartIndex]);
    }
    glViewport(viewport.x, viewport.y, viewport.z, viewport.w);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    glUseProgram(program);
    glBindVertexArray(vao);

    if (feedback) {
        glEnable(GL_RASTERIZER_DISCARD);
        glBindBufferBase(GL_TRANSFORM_FEEDBACK_BUFFER, 0, params[PodParam::feedbackBuffer]);
        glBeginTransformFeedback(params[PodParam::feedbackMode]);
    }

    if (params[PodParam::indexBuffer] != 0) {
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, params[PodParam::indexBuffer]);
        glDrawElementsInstanced(mode, count, GL_UNSIGNED_INT, nullptr, instances);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, 0);
    } else {
        glDrawArraysInstanced(mode, static_cast<GLint>(params[PodParam::first]), count, instances);
    }

    if (feedback) {
        glEndTransformFeedback();
        glDisable(GL_RASTERIZER_DISCARD);
        glBindTransformFeedback(GL_TRANSFORM_FEEDBACK, 0);
    }
    if (restart) glDisable(GL_PRIMITIVE_RESTART);
    if (culling) glDisable(GL_CULL_FACE);

    glBindVertexArray(0);
    glUseProgram(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void RenderPOD(const GLuint& fbo, const Vec4i& viewport, GL_Pod& pod) {
    const GLuint program = pod.params[PodParam::program];
    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    SetProgramAttributes(vao, program, pod.attributes);
    SetProgramUniforms(program, pod.uniforms);
    RenderGeneric(viewport, pod.params, vao, fbo, program);
    if (vao != 0) glDeleteVertexArrays(1, &vao);
}

void RenderQuad(PX_FBO* target, GLuint program, const UniformMap& uniforms, uint8_t useRect,
                const A_FloatRect& rect, bool textureBarrier) {
    if (target == nullptr) {
        Diagnostic("VEXO: RenderQuad() called without a target\n");
        return;
    }
    GL_Pod pod = CreateQuad(program, uniforms, useRect, rect);

    // The extension may be missing; then there is no barrier to issue.
    if (textureBarrier && GLEW_NV_texture_barrier && glTextureBarrierNV != nullptr) {
        glTextureBarrierNV();
    }

    GLuint vao = 0;
    glGenVertexArrays(1, &vao);
    SetProgramAttributes(vao, program, pod.attributes);
    SetProgramUniforms(program, pod.uniforms);
    const Vec4i viewport = {0, 0, static_cast<int32_t>(target->renderBuffer.width),
                            static_cast<int32_t>(target->renderBuffer.height)};
    RenderGeneric(viewport, pod.params, vao, target->fbo, program);

    if (vao != 0) glDeleteVertexArrays(1, &vao);
    glDeleteBuffers(static_cast<GLsizei>(pod.buffers.size()), pod.buffers.data());
    pod.buffers.clear();
}
