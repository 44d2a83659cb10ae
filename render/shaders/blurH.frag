#version 330 core
// Vertical half of the separable map blur: a Gaussian over the radius to each side, as pairs of
// texels, each pair read by one filtered fetch placed by their weights.
in vec2 out_uvs;
out vec4 FragColour;
uniform sampler2D videoTexture;
uniform vec2 resV;
uniform vec2 kernel[102];  // each pair's place (texels from the pixel) and weight
uniform int kernelPairs;

void main() {
    vec2 texel = vec2(0.0, 1.0 / resV.y);
    vec4 sum = vec4(0.0);
    for (int i = 0; i < kernelPairs; ++i) {
        sum += kernel[i].y * texture(videoTexture, out_uvs + kernel[i].x * texel);
    }
    FragColour = sum;
}
