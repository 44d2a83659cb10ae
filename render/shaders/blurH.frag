#version 330 core
// Vertical half of the separable map blur: a Gaussian over the radius to each side, one weight
// per texel, each texel read by its index on the frame's grid, so that any part of a frame blurs
// as the whole frame does.
out vec4 FragColour;
uniform sampler2D videoTexture;
uniform vec2 resV;          // the frame's size
uniform ivec2 gridOrigin;   // the frame pixel of the target's first pixel, and the source's
uniform int wrapL;          // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels
uniform vec4 kernel[51];    // the weights of consecutive texels, four a vector
uniform int kernelStart;    // the first weight's texel, from the pixel
uniform int kernelGroups;

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
    return texelFetch(videoTexture, ivec2(x, clamp(y - gridOrigin.y, 0, last)), 0);
}

vec4 edgeTap(int x, int y, int last) {
    vec2 e = edgePixel(y, resV.y);
    return e.y * tap(x, int(e.x), last);
}

void main() {
    ivec2 pixel = ivec2(gl_FragCoord.xy);
    int last = textureSize(videoTexture, 0).y - 1;
    int first = gridOrigin.y + pixel.y + kernelStart;
    vec4 sum = vec4(0.0);
    // Only pixels whose kernel crosses the frame's edge pay for the edge mode: a loop is skipped
    // where no pixel takes it.
    if (first >= 0 && first + 4 * kernelGroups <= int(resV.y)) {
        for (int i = 0; i < kernelGroups; ++i) {
            int y = first + 4 * i;
            sum += kernel[i].x * tap(pixel.x, y, last) + kernel[i].y * tap(pixel.x, y + 1, last) +
                   kernel[i].z * tap(pixel.x, y + 2, last) + kernel[i].w * tap(pixel.x, y + 3, last);
        }
    } else {
        for (int i = 0; i < kernelGroups; ++i) {
            int y = first + 4 * i;
            sum += kernel[i].x * edgeTap(pixel.x, y, last) +
                   kernel[i].y * edgeTap(pixel.x, y + 1, last) +
                   kernel[i].z * edgeTap(pixel.x, y + 2, last) +
                   kernel[i].w * edgeTap(pixel.x, y + 3, last);
        }
    }
    FragColour = sum;
}
