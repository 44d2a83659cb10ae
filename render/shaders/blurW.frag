#version 330 core
// Horizontal half of the separable map blur: a Gaussian over `radiusF` pixels to each side.
in vec2 out_uvs;
out vec4 FragColour;
uniform sampler2D videoTexture;
uniform float radiusF;
uniform vec2 resV;

float weight(float x) {
    return exp(-0.5 * x * x / 0.06);
}

void main() {
    int steps = int(ceil(radiusF));
    // At most one pixel between taps, so thin features are not skipped.
    float stride = (radiusF / float(steps)) * (1.0 / resV.x);
    vec4 sum = vec4(0.0);
    float total = 0.0;
    for (int i = -steps; i <= steps; ++i) {
        float w = weight(float(i) / float(steps));
        sum += w * texture(videoTexture, out_uvs + vec2(float(i) * stride, 0.0));
        total += w;
    }
    FragColour = sum / total;
}
