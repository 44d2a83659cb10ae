#version 330 core
// Horizontal half of the separable map blur: a Gaussian over the radius to each side, as pairs of
// texels, each pair read by one filtered fetch at its place (to 1/512 of a texel) on the frame's
// grid, so that any part of a frame blurs as the whole frame does.
out vec4 FragColour;
uniform sampler2DRect videoTexture;
uniform vec2 resV;          // the frame's size
uniform ivec2 gridOrigin;   // the frame pixel of the target's first pixel
uniform ivec2 srcOrigin;    // the frame pixel of the source's first texel
uniform int wrapL;          // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels
uniform int channelL;       // 0: every channel; else only what the grey is taken from, in red
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

// The value the displacement's grey is taken from: one channel, or (8) the colours' mean.
float greySource(vec4 c) {
    if (channelL == 2) return c.g;
    if (channelL == 3) return c.b;
    if (channelL == 4) return c.a;
    if (channelL == 8) return (c.r + c.g + c.b) * 0.33333333;
    return c.r;
}

// Frame pixel i of n as the edge mode has it, weighed 0 where it names none.
vec2 edgePixel(int i, float n) {
    float k = float(i);
    if (wrapL == 1) return vec2(k - n * floor(k / n), 1.0);
    float m = k - 2.0 * n * floor(k / (2.0 * n));
    return vec2(m < n ? m : 2.0 * n - 1.0 - m, 1.0);
}

vec4 edgeTap(int x, int y, int last) {
    vec2 e = edgePixel(x, resV.x);
    return e.y * texelFetch(videoTexture, ivec2(clamp(int(e.x) - srcOrigin.x, 0, last), y));
}

void main() {
    ivec2 at = gridOrigin + ivec2(gl_FragCoord.xy);
    vec2 local = vec2(at - srcOrigin) + 0.5;
    int first = at.x + kernelStart;
    vec4 sum = vec4(0.0);
    // Repeat and Mirror Repeat, which rectangle textures do not hold, are read texel by texel where
    // the kernel crosses the frame's edge, by a program of their own: on a SIMD rasteriser the
    // mere chance of a branch between pixels slows the pairs for every other edge mode.
#ifdef VEXO_BY_TEXEL
    if (first >= 0 && first + 4 * kernelGroups <= int(resV.x)) {
        for (int i = 0; i < kernelPairs; ++i) {
            sum += kernel[i].y * texture(videoTexture, local + vec2(kernel[i].x, 0.0));
        }
    } else {
        ivec2 size = textureSize(videoTexture);
        int y = clamp(at.y - srcOrigin.y, 0, size.y - 1);
        int last = size.x - 1;
        for (int i = 0; i < kernelGroups; ++i) {
            int x = first + 4 * i;
            sum += texelWeights[i].x * edgeTap(x, y, last) +
                   texelWeights[i].y * edgeTap(x + 1, y, last) +
                   texelWeights[i].z * edgeTap(x + 2, y, last) +
                   texelWeights[i].w * edgeTap(x + 3, y, last);
        }
    }
#else
    for (int i = 0; i < kernelPairs; ++i) {
        sum += kernel[i].y * texture(videoTexture, local + vec2(kernel[i].x, 0.0));
    }
#endif
    FragColour = channelL != 0 ? vec4(greySource(sum)) : sum;
}
