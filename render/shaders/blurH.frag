#version 330 core
// Vertical half of the separable map blur: a Gaussian over the radius to each side, as pairs of
// texels, each pair read by one filtered fetch at its place (to 1/512 of a texel) on the frame's
// grid, so that any part of a frame blurs as the whole frame does.
out vec4 FragColour;
uniform sampler2DRect videoTexture;
uniform vec2 resV;          // the frame's size
uniform ivec2 gridOrigin;   // the frame pixel of the target's first pixel, and the source's
uniform int wrapL;          // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels
uniform vec2 kernel[102];   // each pair's place (texels from the pixel) and weight
uniform vec4 texelWeights[51];  // the weights the pairs give consecutive texels, four a vector
uniform int kernelStart;        // the first texel's offset from the pixel
// A program made for one kernel's length counts its pairs when compiled (KERNEL_PAIRS), which
// llvmpipe draws in about 80 % of the time of loops that count them at run time.
#ifdef KERNEL_PAIRS
const int kernelPairs = KERNEL_PAIRS;
const int kernelGroups = (2 * KERNEL_PAIRS + 3) / 4;
#else
uniform int kernelPairs;
uniform int kernelGroups;
#endif

// Frame pixel i of n as the edge mode has it, weighed 0 where it names none.
vec2 edgePixel(int i, float n) {
    float k = float(i);
    if (wrapL == 1) return vec2(k - n * floor(k / n), 1.0);
    float m = k - 2.0 * n * floor(k / (2.0 * n));
    return vec2(m < n ? m : 2.0 * n - 1.0 - m, 1.0);
}

vec4 edgeTap(int x, int y, int last) {
    vec2 e = edgePixel(y, resV.y);
    return e.y * texelFetch(videoTexture, ivec2(x, clamp(int(e.x) - gridOrigin.y, 0, last)));
}

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    vec2 local = vec2(pixel) + 0.5;
    int first = gridOrigin.y + pixel.y + kernelStart;
    vec4 sum = vec4(0.0);
    // Repeat and Mirror Repeat, which rectangle textures do not hold, are read texel by texel where
    // the kernel crosses the frame's edge, by a program of their own: on a SIMD rasteriser the
    // mere chance of a branch between pixels slows the pairs for every other edge mode.
#ifdef VEXO_BY_TEXEL
    if (first >= 0 && first + 4 * kernelGroups <= int(resV.y)) {
        for (int i = 0; i < kernelPairs; ++i) {
            sum += kernel[i].y * texture(videoTexture, local + vec2(0.0, kernel[i].x));
        }
    } else {
        int last = textureSize(videoTexture).y - 1;
        for (int i = 0; i < kernelGroups; ++i) {
            int y = first + 4 * i;
            sum += texelWeights[i].x * edgeTap(pixel.x, y, last) +
                   texelWeights[i].y * edgeTap(pixel.x, y + 1, last) +
                   texelWeights[i].z * edgeTap(pixel.x, y + 2, last) +
                   texelWeights[i].w * edgeTap(pixel.x, y + 3, last);
        }
    }
#else
    for (int i = 0; i < kernelPairs; ++i) {
        sum += kernel[i].y * texture(videoTexture, local + vec2(0.0, kernel[i].x));
    }
#endif
    FragColour = sum;
}
