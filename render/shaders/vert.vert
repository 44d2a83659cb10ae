#version 330
// Places a quad through `xform` (row vector on the left, as the matrix is laid out).
in vec4 vertex;
in vec2 tex;
uniform mat4 xform;
out vec2 out_uvs;

void main() {
    gl_Position = vec4(vertex.xyz, 1.0) * xform;
    out_uvs = tex;
}
