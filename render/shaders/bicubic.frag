#version 330 core
// Cubic B-spline upsampling from four bilinear fetches instead of sixteen point fetches.
out vec4 FragColor;
uniform sampler2D inTex;
// Cell of the supersampled frame the target's first pixel holds, the supersampled frame's size,
// and where the frame's texture coordinates fall in the part of it the input holds.
uniform ivec2 gridOrigin;
uniform vec2 gridSize;
uniform vec4 inPlace;

// B-spline weights of the four taps around a texel fraction v.
vec4 cubic(float v) {
    vec4 n = vec4(1.0, 2.0, 3.0, 4.0) - v;
    vec4 s = n * n * n;
    float w0 = s.x;
    float w1 = s.y - 4.0 * s.x;
    float w2 = s.z - 4.0 * s.y + 6.0 * s.x;
    float w3 = 6.0 - w0 - w1 - w2;
    return vec4(w0, w1, w2, w3) * (1.0 / 6.0);
}

vec4 textureBicubic(sampler2D sampler, vec2 uv) {
    vec2 size = vec2(textureSize(sampler, 0));
    vec2 texel = 1.0 / size;

    vec2 t = uv * size - 0.5;
    vec2 f = fract(t);
    t -= f;

    vec4 wx = cubic(f.x);
    vec4 wy = cubic(f.y);

    vec4 c = vec4(t.x - 0.5, t.x + 1.5, t.y - 0.5, t.y + 1.5);
    vec4 g = vec4(wx.x + wx.y, wx.z + wx.w, wy.x + wy.y, wy.z + wy.w);
    // Each bilinear fetch lands between two taps so that it blends them in their weights' ratio.
    vec4 o = (c + vec4(wx.y, wx.w, wy.y, wy.w) / g) * texel.xxyy;

    vec4 s0 = texture(sampler, o.xz);
    vec4 s1 = texture(sampler, o.yz);
    vec4 s2 = texture(sampler, o.xw);
    vec4 s3 = texture(sampler, o.yw);

    float sx = g.x / (g.x + g.y);
    float sy = g.z / (g.z + g.w);
    return mix(mix(s3, s2, sx), mix(s1, s0, sx), sy);
}

// Level-of-detail wrapper; the effect samples at the base octave with no offset.
vec4 textureOctave(sampler2D sampler, vec2 uv, float octave, vec2 offset) {
    return textureBicubic(sampler, uv / exp2(octave) - offset);
}

void main() {
    vec2 uvs = (vec2(gridOrigin + ivec2(gl_FragCoord.xy)) + 0.5) / gridSize;
    FragColor = textureOctave(inTex, uvs * inPlace.xy + inPlace.zw, 0.0, vec2(0.0, 0.0));
}
