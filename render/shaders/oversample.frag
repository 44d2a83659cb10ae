#version 330 core
// Box reduction of an image rendered at `octave` times the output size.
in vec2 out_uvs;
out vec4 FragColor;
uniform sampler2D inTex;
uniform vec2 inResFull;
uniform float octave;

// Sums of huge finite samples can overflow: the host's float buffer still gets no infinity.
vec4 finiteOrZero(vec4 c) {
    uvec4 bits = floatBitsToUint(c);
    uvec4 finite = uvec4(notEqual(bits & 0x7F800000u, uvec4(0x7F800000u)));
    return uintBitsToFloat(bits * finite);
}

// The n samples along an axis lie one texel apart and share their filtering fraction f, so
// together they weigh n + 1 texels: 1 - f, then 1s, then f. With n even (2 or 4) these pair up,
// and one filtered fetch placed by a pair's weights reads both: n / 2 + 1 fetches an axis
// instead of n, nine instead of sixteen at 4x. Fetch k of an axis, as position and weight.
vec2 fetchAlong(int k, int fetches, int n, float f, float first, float texel) {
    if (k == 0) return vec2(first + texel / (2.0 - f), 2.0 - f);
    if (k == fetches - 1) return vec2(first + float(n) * texel, f);
    return vec2(first + (float(2 * k) + 0.5) * texel, 2.0);
}

void main() {
    int n = int(octave);
    float aspect = inResFull.x / inResFull.y;

    vec2 offset = vec2(-2.0, -2.0) / inResFull;
    if (octave == 2.0) offset *= 0.5;
    offset.x /= aspect;
    vec2 base = out_uvs + offset;

    // Texel coordinates of the first sample, whose two texels the filter blends by fraction f.
    vec2 t = base * inResFull - 0.5;
    vec2 f = fract(t);
    vec2 texel = 1.0 / inResFull;
    vec2 first = (floor(t) + 0.5) * texel;
    // A loop whose length the shader cannot know: llvmpipe runs unrolled code under a false
    // branch anyway, and skips only loops.
    int fetches = n / 2 + 1;
    vec4 sum = vec4(0.0);
    for (int j = 0; j < fetches; ++j) {
        vec2 y = fetchAlong(j, fetches, n, f.y, first.y, texel.y);
        for (int i = 0; i < fetches; ++i) {
            vec2 x = fetchAlong(i, fetches, n, f.x, first.x, texel.x);
            sum += (x.y * y.y) * texture(inTex, vec2(x.x, y.x));
        }
    }
    FragColor = finiteOrZero(sum / float(n * n));
}
