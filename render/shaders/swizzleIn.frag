#version 330 core
// Host pixels arrive as alpha, red, green, blue in the texture's r, g, b, a; the passes after this
// one work in red, green, blue, alpha. Each pixel the placed quad covers copies one texel, found
// by the pixel's place, so that the copy is exact whatever part of the target is drawn.
out vec4 colourOut;
uniform sampler2DRect videoTexture;
uniform int premultB;
uniform ivec2 texelOrigin;  // the texel the target's first pixel would copy
uniform int channelL;       // 0: every channel; else only what the grey is taken from, in red

// The value the displacement's grey is taken from: one channel, or (8) the colours' mean.
float greySource(vec4 c) {
    if (channelL == 2) return c.g;
    if (channelL == 3) return c.b;
    if (channelL == 4) return c.a;
    if (channelL == 8) return (c.r + c.g + c.b) * 0.33333333;
    return c.r;
}

void main() {
    vec4 s = texelFetch(videoTexture, ivec2(gl_FragCoord.xy) + texelOrigin);
    colourOut = s.gbar;
    if (premultB == 1) colourOut.rgb *= colourOut.a;
    if (channelL != 0) colourOut = vec4(greySource(colourOut));
}
