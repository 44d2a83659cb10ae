#version 330 core
// Horizontal half of the separable map blur: a Gaussian over the radius to each side, one weight
// per texel, each texel read by its index on the frame's grid, so that any part of a frame blurs
// as the whole frame does.
out vec4 FragColour;
uniform sampler2D videoTexture;
uniform vec2 resV;          // the frame's size
uniform ivec2 gridOrigin;   // the frame pixel of the target's first pixel
uniform ivec2 srcOrigin;    // the frame pixel of the source's first texel
uniform int wrapL;          // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels
uniform int channelL;       // 0: every channel; else only what the grey is taken from, in red
uniform vec4 kernel[51];    // the weights of consecutive texels, four a vector
uniform int kernelStart;    // the first weight's texel, from the pixel
uniform int kernelGroups;

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
    if (wrapL == 2) {
        float m = k - 2.0 * n * floor(k / (2.0 * n));
        return vec2(m < n ? m : 2.0 * n - 1.0 - m, 1.0);
    }
    if (wrapL == 3) return vec2(clamp(k, 0.0, n - 1.0), 1.0);
    return vec2(k, k >= 0.0 && k < n ? 1.0 : 0.0);
}

vec4 tap(int x, int y, int last) {
    return texelFetch(videoTexture, ivec2(clamp(x - srcOrigin.x, 0, last), y), 0);
}

vec4 edgeTap(int x, int y, int last) {
    vec2 e = edgePixel(x, resV.x);
    return e.y * tap(int(e.x), y, last);
}

void main() {
    ivec2 at = gridOrigin + ivec2(gl_FragCoord.xy);
    ivec2 last = textureSize(videoTexture, 0) - 1;
    int y = clamp(at.y - srcOrigin.y, 0, last.y);
    int first = at.x + kernelStart;
    vec4 sum = vec4(0.0);
    // Only pixels whose kernel crosses the frame's edge pay for the edge mode: a loop is skipped
    // where no pixel takes it.
    if (first >= 0 && first + 4 * kernelGroups <= int(resV.x)) {
        for (int i = 0; i < kernelGroups; ++i) {
            int x = first + 4 * i;
            sum += kernel[i].x * tap(x, y, last.x) + kernel[i].y * tap(x + 1, y, last.x) +
                   kernel[i].z * tap(x + 2, y, last.x) + kernel[i].w * tap(x + 3, y, last.x);
        }
    } else {
        for (int i = 0; i < kernelGroups; ++i) {
            int x = first + 4 * i;
            sum += kernel[i].x * edgeTap(x, y, last.x) + kernel[i].y * edgeTap(x + 1, y, last.x) +
                   kernel[i].z * edgeTap(x + 2, y, last.x) + kernel[i].w * edgeTap(x + 3, y, last.x);
        }
    }
    FragColour = channelL != 0 ? vec4(greySource(sum)) : sum;
}
