#version 330 core
// The map softness on the frame's grid where the map is one value a pixel: four neighbouring
// pixels of a row ride in one texel's channels, aligned on the frame's grid (texel j holds
// columns 4j to 4j + 3), so that every pass computes four pixels for one fragment's work. Four
// stages, one program each (VEXO_PACKED_STAGE):
//   0 packs the map's source, the edge mode's pixels beyond the frame included (or the cells,
//     which hold them already), so that the blurs read no edge;
//   1 blurs across: texel by texel, each of a texel's pixels the sum of its taps;
//   2 blurs down: pairs of rows, each read by one filtered fetch at its place (to 1/512 of a
//     texel), as the unpacked blur reads them;
//   3 unpacks into the map target.
// A program made for one kernel writes out the sums across (ACROSS_SUM) and defines the pairs
// down (KERNEL_PAIRS).
out vec4 FragColour;
uniform sampler2DRect videoTexture;

#if VEXO_PACKED_STAGE == 0
uniform vec2 resV;         // the frame's size
uniform ivec2 packOrigin;  // the first texel's packed column and frame row
uniform ivec2 srcOrigin;   // the frame pixel of the source's first texel
uniform int wrapL;     // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels; -1 none,
                       // for a source that holds what lies beyond the frame
uniform int channelL;  // what the grey is taken from: a channel, or (8) the colours' mean
uniform int layerL;    // 1: the source is the map layer, in the host's order: premultiplied
                       // as the map pass would place it, and 0 beyond it

float greySource(vec4 c) {
    if (channelL == 2) return c.g;
    if (channelL == 3) return c.b;
    if (channelL == 4) return c.a;
    if (channelL == 8) return (c.r + c.g + c.b) * 0.33333333;
    return c.r;
}

// Frame pixel i of n as the edge mode has it, and 0 after it where it names none.
ivec2 edgePixel(int i, float n) {
    float k = float(i);
    if (wrapL < 0 || (k >= 0.0 && k < n)) return ivec2(i, 1);
    if (wrapL == 0) return ivec2(0);
    if (wrapL == 3) return ivec2(clamp(k, 0.0, n - 1.0), 1);
    if (wrapL == 1) return ivec2(k - n * floor(k / n), 1);
    float m = k - 2.0 * n * floor(k / (2.0 * n));
    return ivec2(m < n ? m : 2.0 * n - 1.0 - m, 1);
}

float tap(int x, ivec2 y, ivec2 last) {
    ivec2 ex = edgePixel(x, resV.x);
    if (ex.y == 0 || y.y == 0) return 0.0;
    ivec2 at = ivec2(ex.x, y.x) - srcOrigin;
    // One fetch either way: llvmpipe runs both sides of a branch.
    vec4 c = texelFetch(videoTexture, clamp(at, ivec2(0), last));
    if (layerL == 0) return greySource(c);
    if (any(lessThan(at, ivec2(0))) || any(greaterThan(at, last))) return 0.0;
    c = c.gbar;
    c.rgb *= c.a;
    return greySource(c);
}

void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    int x = 4 * (packOrigin.x + p.x);
    ivec2 y = edgePixel(packOrigin.y + p.y, resV.y);
    ivec2 last = textureSize(videoTexture) - 1;
    FragColour =
        vec4(tap(x, y, last), tap(x + 1, y, last), tap(x + 2, y, last), tap(x + 3, y, last));
}

#elif VEXO_PACKED_STAGE == 1
// Output channel c of a packed texel takes tap t at pixel c + acrossShift + t of the texels from
// its own on, the taps in order. Written out, those sums take llvmpipe about 60 % of the time of
// the general loop, which looks up a weight for every pixel and channel.
uniform vec4 texelWeights[51];  // the taps' weights, four a vec4
#define TEXEL(q) texelFetch(videoTexture, ivec2(p.x + q, p.y))
#define TAP(w, a, b, c, d) sum += w * vec4(a, b, c, d);
#ifdef ACROSS_SUM
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    vec4 sum = vec4(0.0);
    ACROSS_SUM
    FragColour = sum;
}
#else
uniform int acrossCount;
uniform int acrossShift;
uniform int kernelPairs;

float weightAt(int t) { return t >= 0 && t < 2 * kernelPairs ? texelWeights[t >> 2][t & 3] : 0.0; }

// Each pixel in turn, into the channels whose taps reach it: in each channel the same products
// in the same order as the written-out sums, and beside them only products with a weight of 0.
void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    vec4 sum = vec4(0.0);
    for (int q = 0; q < acrossCount; ++q) {
        vec4 texel = TEXEL(q);
        for (int i = 0; i < 4; ++i) {
            int t = 4 * q + i - acrossShift;
            sum += vec4(weightAt(t), weightAt(t - 1), weightAt(t - 2), weightAt(t - 3)) * texel[i];
        }
    }
    FragColour = sum;
}
#endif

#elif VEXO_PACKED_STAGE == 2
uniform vec2 kernel[102];  // each pair's place (rows from the pixel) and weight
#ifdef KERNEL_PAIRS
const int kernelPairs = KERNEL_PAIRS;
#else
uniform int kernelPairs;
#endif
uniform float rowShift;  // the source row of the target's first row

void main() {
    vec2 local = vec2(gl_FragCoord.x, floor(gl_FragCoord.y) + 0.5 + rowShift);
    vec4 sum = vec4(0.0);
    for (int i = 0; i < kernelPairs; ++i) {
        sum += kernel[i].y * texture(videoTexture, local + vec2(0.0, kernel[i].x));
    }
    FragColour = sum;
}

#else
uniform ivec2 gridOrigin;  // the frame pixel of the target's first pixel
uniform int packedLeft;    // the packed column of the source's first texel

void main() {
    ivec2 p = ivec2(gl_FragCoord.xy);
    int x = gridOrigin.x + p.x;
    vec4 four = texelFetch(videoTexture, ivec2((x >> 2) - packedLeft, p.y));
    FragColour = vec4(four[x & 3]);
}
#endif
