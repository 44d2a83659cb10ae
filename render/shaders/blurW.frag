#version 330 core
// Horizontal half of the separable map blur: a Gaussian over `radiusF` pixels to each side.
in vec2 out_uvs;
out vec4 FragColour;
uniform sampler2D videoTexture;
uniform float radiusF;
uniform vec2 resV;
// Where the blurred part's texture coordinates fall in the source's: scale in xy, offset in zw.
uniform vec4 srcPlace;
uniform int channelL;  // 0: every channel; else only what the grey is taken from, in red

// The source at `at` texture units right of the pixel drawn.
vec4 tap(float at) {
    return texture(videoTexture, (out_uvs + vec2(at, 0.0)) * srcPlace.xy + srcPlace.zw);
}

// The value the displacement's grey is taken from: one channel, or (8) the colours' mean.
float greySource(vec4 c) {
    if (channelL == 2) return c.g;
    if (channelL == 3) return c.b;
    if (channelL == 4) return c.a;
    if (channelL == 8) return (c.r + c.g + c.b) * 0.33333333;
    return c.r;
}

float weight(float x) {
    return exp(-0.5 * x * x / 0.06);
}

void main() {
    int steps = int(ceil(radiusF));
    // At most one pixel between taps, so thin features are not skipped.
    float stride = (radiusF / float(steps)) * (1.0 / resV.x);
    vec4 sum = vec4(0.0);
    float total = 0.0;
    if (float(steps) == radiusF) {
        // Taps a whole pixel apart sit on texel centres, so one filtered fetch between two of
        // them, placed by their weights, reads both in their ratio: half the fetches. The
        // weights exp(-a i^2) follow from each other by products, without an exp per tap.
        float a = 0.5 / (0.06 * float(steps) * float(steps));
        float w = weight(1.0);
        float ratio = exp(a * float(2 * steps - 1));
        float q = exp(-2.0 * a);
        for (int i = -steps; i < steps; i += 2) {
            float w0 = w;
            w *= ratio;
            ratio *= q;
            float w1 = w;
            w *= ratio;
            ratio *= q;
            float at = (float(i) + w1 / (w0 + w1)) * stride;
            sum += (w0 + w1) * tap(at);
            total += w0 + w1;
        }
        sum += w * tap(float(steps) * stride);
        total += w;
    } else {
        for (int i = -steps; i <= steps; ++i) {
            float w = weight(float(i) / float(steps));
            sum += w * tap(float(i) * stride);
            total += w;
        }
    }
    FragColour = sum / total;
    if (channelL != 0) FragColour = vec4(greySource(FragColour));
}
