#version 330 core
// Box reduction of an image rendered at `octave` times the output size: each output pixel is the
// mean of the octave x octave samples that lie within it, symmetric about its centre, so that
// supersampling never moves the picture.
out vec4 FragColor;
uniform sampler2D inTex;  // the samples of a part of the frame, from `sampleOrigin` on
uniform float octave;
uniform ivec2 gridOrigin;    // the frame pixel the target's first pixel is
uniform ivec2 sampleOrigin;  // the supersampled frame's cell of the texture's first texel

// Sums of huge finite samples can overflow: the host's float buffer still gets no infinity.
vec4 finiteOrZero(vec4 c) {
    uvec4 bits = floatBitsToUint(c);
    uvec4 finite = uvec4(notEqual(bits & 0x7F800000u, uvec4(0x7F800000u)));
    return uintBitsToFloat(bits * finite);
}

void main() {
    int n = int(octave);
    // Each sample is fetched by its index, so that a pixel's sum is the same whatever part of the
    // samples a texture holds.
    ivec2 first = (gridOrigin + ivec2(gl_FragCoord.xy)) * n - sampleOrigin;
    // A loop whose length the shader cannot know: llvmpipe runs unrolled code under a false
    // branch anyway, and skips only loops.
    vec4 sum = vec4(0.0);
    for (int j = 0; j < n; ++j) {
        vec4 row = vec4(0.0);
        for (int i = 0; i < n; ++i) row += texelFetch(inTex, first + ivec2(i, j), 0);
        sum += row;
    }
    FragColor = finiteOrZero(sum / float(n * n));
}
