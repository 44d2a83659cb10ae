#version 330 core
// Host pixels arrive as alpha, red, green, blue in the texture's r, g, b, a; the passes after this
// one work in red, green, blue, alpha. Each pixel the placed quad covers copies one texel, found
// by the pixel's place, so that the copy is exact whatever part of the target is drawn.
out vec4 colourOut;
uniform sampler2D videoTexture;
uniform int premultB;
uniform ivec2 texelOrigin;  // the texel the target's first pixel would copy

void main() {
    vec4 s = texelFetch(videoTexture, ivec2(gl_FragCoord.xy) + texelOrigin, 0);
    colourOut = s.gbar;
    if (premultB == 1) colourOut.rgb *= colourOut.a;
}
