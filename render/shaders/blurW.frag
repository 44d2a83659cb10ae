#version 330 core
// Horizontal half of the separable map blur: a Gaussian over the radius to each side, as pairs of
// texels, each pair read by one filtered fetch placed by their weights.
in vec2 out_uvs;
out vec4 FragColour;
uniform sampler2D videoTexture;
uniform vec2 resV;
// Where the blurred part's texture coordinates fall in the source's: scale in xy, offset in zw.
uniform vec4 srcPlace;
uniform int channelL;  // 0: every channel; else only what the grey is taken from, in red
uniform vec2 kernel[102];  // each pair's place (texels from the pixel) and weight
uniform int kernelPairs;

// The value the displacement's grey is taken from: one channel, or (8) the colours' mean.
float greySource(vec4 c) {
    if (channelL == 2) return c.g;
    if (channelL == 3) return c.b;
    if (channelL == 4) return c.a;
    if (channelL == 8) return (c.r + c.g + c.b) * 0.33333333;
    return c.r;
}

void main() {
    vec2 at = out_uvs * srcPlace.xy + srcPlace.zw;
    vec2 texel = vec2(srcPlace.x / resV.x, 0.0);
    vec4 sum = vec4(0.0);
    for (int i = 0; i < kernelPairs; ++i) {
        sum += kernel[i].y * texture(videoTexture, at + kernel[i].x * texel);
    }
    FragColour = channelL != 0 ? vec4(greySource(sum)) : sum;
}
