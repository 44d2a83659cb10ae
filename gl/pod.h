// Drawables: a pod bundles one draw's parameters, values and vertex buffers. The effect draws
// full-target quads only, through RenderQuad.
#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <vector>

#include "A.h"
#include "gl/binding.h"
#include "gl/fbo.h"

// Indices into GL_Pod::params. 0 switches every optional feature off.
namespace PodParam {
enum : unsigned {
    mode = 0,            // primitive mode of the draw
    first = 1,           // first vertex (array draws)
    count = 2,           // vertices, or indices for indexed draws
    reserved = 3,        // read by nothing
    indexBuffer = 4,     // element buffer of unsigned int indices; selects an indexed draw
    feedbackBuffer = 5,  // captures vertex output with rasterization off
    instances = 6,
    feedbackMode = 7,  // primitive mode for glBeginTransformFeedback
    restartIndex = 8,  // enables primitive restart
    cullFace = 9,      // enables culling of this face
    program = 10,
    kCount = 11,
};
}  // namespace PodParam

using PodParams = uint32_t[PodParam::kCount];

// Owns its maps and name list as memory only: destroying a pod deletes no GL object. Whoever ends
// its use deletes `buffers` (RenderQuad does so for the pods it builds).
struct GL_Pod {
    PodParams params = {};
    UniformMap uniforms;
    AttributeMap attributes;
    std::vector<GLuint> buffers;  // in creation order
};

// Strip order: bottom-left, bottom-right, top-left, top-right in clip space.
extern const float quad_vertices[16];
extern const float quad_tex[8];

// Leaves the buffer bound to `target`; the name is returned even when GL reported an error.
GLuint CreateBuffer(const void* data, uint32_t size, uint32_t target, uint32_t usage);
void DeleteBuffer(GLuint buffer);
// Deletes every entry's buffer (shared names twice, which GL ignores) and empties the map.
void ClearAttribBuffers(AttributeMap& attributes);

// A four-vertex strip with "vertex", "tex" and "texCoordIn" (the latter two on one buffer).
GL_Pod CreateQuadFromVertices(GLuint program, const UniformMap& uniforms, const float* vertices,
                              const float* texCoords);
// Texture coordinates 0..1, or with `useRect` the rectangle's (left, top) at the bottom-left
// vertex through (right, bottom) at the top-right one.
GL_Pod CreateQuad(GLuint program, const UniformMap& uniforms, uint8_t useRect,
                  const A_FloatRect& rect);

// One draw. Switches off again what it switched on; leaves framebuffer 0, program 0 and vertex
// array 0 bound. The viewport stays. params[program] is not read: `program` is used.
void RenderGeneric(const Vec4i& viewport, const PodParams& params, GLuint vao, GLuint fbo,
                   GLuint program);
// Draws a pod that the caller keeps; its buffers stay alive.
void RenderPOD(const GLuint& fbo, const Vec4i& viewport, GL_Pod& pod);
// Draws one quad covering `target` and releases every GL object it made for the draw.
void RenderQuad(PX_FBO* target, GLuint program, const UniformMap& uniforms, uint8_t useRect,
                const A_FloatRect& rect, bool textureBarrier);
