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

void main() {
    int n = int(octave);
    float scale = octave;
    float aspect = inResFull.x / inResFull.y;

    vec2 offset = vec2(-2.0, -2.0) / inResFull;
    if (octave == 2.0) offset *= 0.5;
    offset.x /= aspect;
    vec2 base = out_uvs + offset;

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
