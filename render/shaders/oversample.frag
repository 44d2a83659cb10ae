#version 330 core
// Box reduction of an image rendered at `octave` times the output size.
out vec4 FragColor;
uniform sampler2D inTex;  // the samples of a part of the frame, from `sampleOrigin` on
uniform vec2 inResFull;   // the supersampled frame's size
uniform float octave;
uniform ivec2 gridOrigin;    // the frame pixel the target's first pixel is
uniform ivec2 sampleOrigin;  // the supersampled frame's cell of the texture's first texel

// Sums of huge finite samples can overflow: the host's float buffer still gets no infinity.
vec4 finiteOrZero(vec4 c) {
    uvec4 bits = floatBitsToUint(c);
    uvec4 finite = uvec4(notEqual(bits & 0x7F800000u, uvec4(0x7F800000u)));
    return uintBitsToFloat(bits * finite);
}

// The n samples along an axis lie one texel apart and share their filtering fraction f, so
// together they weigh n + 1 texels: 1 - f, then 1s, then f. Each texel is fetched by its index,
// so that a pixel's sum is the same whatever part of the samples a texture holds.
float weightAlong(int k, int n, float f) {
    if (k == 0) return 1.0 - f;
    if (k == n) return f;
    return 1.0;
}

void main() {
    int n = int(octave);
    float aspect = inResFull.x / inResFull.y;

    vec2 offset = vec2(-2.0, -2.0) / inResFull;
    if (octave == 2.0) offset *= 0.5;
    offset.x /= aspect;
    vec2 uvs = (vec2(gridOrigin + ivec2(gl_FragCoord.xy)) + 0.5) * octave / inResFull;
    vec2 base = uvs + offset;

    // Texel coordinates of the first sample, whose two texels the filter blends by fraction f.
    vec2 t = base * inResFull - 0.5;
    vec2 f = fract(t);
    ivec2 first = ivec2(floor(t)) - sampleOrigin;
    // A loop whose length the shader cannot know: llvmpipe runs unrolled code under a false
    // branch anyway, and skips only loops.
    vec4 sum = vec4(0.0);
    for (int j = 0; j <= n; ++j) {
        vec4 row = vec4(0.0);
        for (int i = 0; i <= n; ++i) {
            row += weightAlong(i, n, f.x) * texelFetch(inTex, first + ivec2(i, j), 0);
        }
        sum += weightAlong(j, n, f.y) * row;
    }
    FragColor = finiteOrZero(sum / float(n * n));
}
