#version 330 core
// Host pixels arrive as alpha, red, green, blue in the texture's r, g, b, a; the passes after this
// one work in red, green, blue, alpha.
in vec2 out_uvs;
out vec4 colourOut;
uniform sampler2D videoTexture;
uniform int premultB;

void main() {
    vec4 s = texture(videoTexture, out_uvs);
    colourOut = s.gbar;
    if (premultB == 1) colourOut.rgb *= colourOut.a;
}
