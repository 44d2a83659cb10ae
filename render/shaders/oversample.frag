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

// The four samples along an axis lie one texel apart and share their filtering fraction f, so
// together they weigh five texels 1 - f, 1, 1, 1 and f. Read two texels at a time with one
// filtered fetch placed by their weights: three fetches an axis, nine instead of sixteen.
void axisPairs(float start, float size, out vec3 at, out vec3 w) {
    float texel = 1.0 / size;
    float t = start * size - 0.5;
    float f = fract(t);
    float first = (floor(t) + 0.5) * texel;
    w = vec3(2.0 - f, 2.0, f);
    at = vec3(first + texel / (2.0 - f), first + 2.5 * texel, first + 4.0 * texel);
}

vec4 pairedReduction(vec2 base) {
    vec3 ax, wx, ay, wy;
    axisPairs(base.x, inResFull.x, ax, wx);
    axisPairs(base.y, inResFull.y, ay, wy);
    vec4 sum = vec4(0.0);
    for (int j = 0; j < 3; ++j) {
        vec4 row = wx.x * texture(inTex, vec2(ax.x, ay[j])) +
                   wx.y * texture(inTex, vec2(ax.y, ay[j])) +
                   wx.z * texture(inTex, vec2(ax.z, ay[j]));
        sum += wy[j] * row;
    }
    return sum / 16.0;
}

void main() {
    int n = int(octave);
    float scale = octave;
    float aspect = inResFull.x / inResFull.y;

    vec2 offset = vec2(-2.0, -2.0) / inResFull;
    if (octave == 2.0) offset *= 0.5;
    offset.x /= aspect;
    vec2 base = out_uvs + offset;

    if (n == 4) {
        FragColor = finiteOrZero(pairedReduction(base));
        return;
    }

    vec4 sum = vec4(0.0);
    float count = 0.0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
            vec2 at = (vec2(float(i), float(j)) / inResFull + vec2(0.0, 0.0) / inResFull) * scale /
                      float(n);
            sum += texture(inTex, base + at);
            count += 1.0;
        }
    }
    FragColor = finiteOrZero(sum / count);
}
