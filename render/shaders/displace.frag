#version 330 core
// The effect itself: reduce the map to one value per pixel, scale the user's transform by it and
// resample the input there. Writes the host's alpha, red, green, blue order.
out vec4 FragColor;

// A program made for one frame's settings defines the VEXO_ values after the version line, and
// the compiler drops the branches they decide; without them every setting is a uniform.
uniform sampler2DRect inTex;
uniform sampler2DRect displaceTex;
// Every read is placed on the grid of the whole frame (or of the supersampled frame), to 1/512 of
// a texel: a texture holds a part of the frame from the frame pixel its origin names on, at texel
// positions, and taking the whole origin away from such a position is exact. So every part and
// every tile of a frame computes each pixel alike.
uniform ivec2 gridOrigin;  // the frame pixel of the target's first pixel
uniform vec2 gridSize;
uniform ivec2 inOrigin;   // the frame pixel of the input texture's first texel
uniform ivec2 mapOrigin;  // the frame pixel of the map texture's first texel (3: packed column)
#ifdef VEXO_MAP_FETCH
const int mapFetchL = VEXO_MAP_FETCH;
#else
// 1: the map is the map layer itself, read by texel in the host's order; 2: the softened map on
// cells of mapCells pixels a side; 3: the softened map of one value a pixel, four pixels of a row
// a texel
uniform int mapFetchL;
#endif
uniform float mapCells;
// The cells a pixel's side holds: 1 for a direct frame; 2 or 4 supersampled, where each pixel is
// the mean of its cells and the input is upsampled at the cells read.
#ifdef VEXO_PER_PIXEL
const int perPixel = VEXO_PER_PIXEL;
#else
uniform int perPixel;
#endif
#ifdef VEXO_WRAP
const int wrapL = VEXO_WRAP;
#else
uniform int wrapL;  // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels
#endif
#ifdef VEXO_IN_BYTES
const int inBytes = VEXO_IN_BYTES;
#else
// 1 where the input texture holds bytes (2x 8-bit frames: InputAsBytes): read texel by texel,
// each converted to the float an upload would hold, where a filtered fetch would blend bytes in
// fixed point.
uniform int inBytes;
#endif
#ifdef VEXO_AUX
const int usingAuxTex = VEXO_AUX;
#else
uniform int usingAuxTex;
#endif
// The channel and the inversion stay uniforms in every program: a few selects a pixel, where a
// program per channel made each change of channel a new program to build. Only whether the
// channel takes the colour conversion (hue, saturation) is fixed.
uniform int srcL;
#ifdef VEXO_SRC_HSV
const bool srcHsv = VEXO_SRC_HSV == 1;
#else
const bool srcHsv = true;
#endif
uniform int invert;
uniform float offsetF;
#ifdef VEXO_EASING
const int easingL = VEXO_EASING;
#else
uniform int easingL;
#endif
#ifdef VEXO_GAMMA_ONE
const float gammaF = 1.0;
#else
uniform float gammaF;
#endif
uniform float translateX;
uniform float translateY;
#ifdef VEXO_ROT_ZERO
const float rot = 0.0;
const float pixelStretch = 0.0;
#else
uniform float rot;
// A pixel's width over its height, less one: square pixels are zero, as an unset uniform is.
uniform float pixelStretch;
#endif
#ifdef VEXO_SCALE_ONE
const float scaleX = 1.0;
const float scaleY = 1.0;
#else
uniform float scaleX;
uniform float scaleY;
#endif
uniform float anchorX;
uniform float anchorY;
uniform vec2 resV;
#ifdef VEXO_CA
const int usingCA = VEXO_CA;
#else
uniform int usingCA;
#endif
uniform float redMult;
uniform float greenMult;
uniform float blueMult;
#ifdef VEXO_DST
const int dstL = VEXO_DST;
#else
uniform int dstL;
#endif

// The move, in frame pixels, from the pixel at `x` (frame pixels) to the position it samples:
// rotated as the picture is seen (pixels widened to square) about the anchor, translated, scaled
// about the anchor. Taken as a move rather than a position, so that no displacement is exactly
// none.
vec2 modifyCoords(vec2 x, float translateXF, float translateYF, float rotF, float scaleXF, float scaleYF) {
    float sn = sin(rotF);
    float cs = cos(rotF);
    vec2 d = x - vec2(anchorX, anchorY) * resV;
    float aspect = 1.0 + pixelStretch;
    vec2 seen = vec2(d.x * aspect, d.y);
    vec2 turned = vec2((seen.x * cs + seen.y * sn) / aspect, -seen.x * sn + seen.y * cs);
    vec2 shift = vec2(translateXF, translateYF) * resV;
    return vec2(scaleXF, scaleYF) * (turned - shift) - d;
}

vec3 rgb2hsv(vec3 c) {
    vec4 K = vec4(0.0, -1.0 / 3.0, 2.0 / 3.0, -1.0);
    float e = 1.0e-10;
    vec4 p = mix(vec4(c.b, c.g, K.w, K.z), vec4(c.g, c.b, K.x, K.y), step(c.b, c.g));
    vec4 q = mix(vec4(p.x, p.y, p.w, c.r), vec4(c.r, p.y, p.z, p.x), step(p.x, c.r));
    float d = q.x - min(q.w, q.y);
    return vec3(abs(q.z + (q.w - q.y) / (6.0 * d + e)), d / (q.x + e), q.x);
}

// Exponential curves from 0 to 1 over 0 to 1.
float ease(float t) {
    if (easingL == 3) return t == 0.0 ? 0.0 : exp2(10.0 * (t - 1.0));
    if (easingL == 4) return t == 1.0 ? 1.0 : 1.0 - exp2(-10.0 * t);
    if (t == 0.0) return 0.0;
    if (t == 1.0) return 1.0;
    float u = 2.0 * t;
    if (u < 1.0) return 0.5 * exp2(10.0 * (u - 1.0));
    return 0.5 * (2.0 - exp2(-10.0 * (u - 1.0)));
}

// The share of a scale s that a map value g applies: 1/s at g = 1, 1 everywhere when s = 1.
float scaleFactor(float g, float s) {
    // At s = 1 the expression is g/g; a map value of exactly 0 (a zero colour multiplier) would
    // make that 0 * inf = NaN, so take its limit, 1.
    if (g == 0.0 && s == 1.0) return 1.0;
    return g * (1.0 / (g - (1.0 - s)));
}

// Host float buffers must never receive NaN or infinity (gamma 0 on a map value of 0, a negative
// base under gamma, the scale's pole): such a channel becomes 0. Decided on the bits, which no
// compiler may fold away as it may an isnan(), so finite values pass bit for bit.
vec4 finiteOrZero(vec4 c) {
    uvec4 bits = floatBitsToUint(c);
    uvec4 finite = uvec4(notEqual(bits & 0x7F800000u, uvec4(0x7F800000u)));
    return uintBitsToFloat(bits * finite);
}

// B-spline weights of the four taps around a texel fraction v.
vec4 cubic(float v) {
    vec4 n = vec4(1.0, 2.0, 3.0, 4.0) - v;
    vec4 s = n * n * n;
    float w0 = s.x;
    float w1 = s.y - 4.0 * s.x;
    float w2 = s.z - 4.0 * s.y + 6.0 * s.x;
    float w3 = 6.0 - w0 - w1 - w2;
    return vec4(w0, w1, w2, w3) * (1.0 / 6.0);
}

// A cell of a grid of n as the edge mode has it, and in `inside` whether it has one.
float wrapCell(float i, float n, out bool inside) {
    inside = true;
    if (wrapL == 1) return i - n * floor(i / n);
    if (wrapL == 2) {
        float k = i - 2.0 * n * floor(i / (2.0 * n));
        return k < n ? k : 2.0 * n - 1.0 - k;
    }
    if (wrapL == 3) return clamp(i, 0.0, n - 1.0);
    inside = i >= 0.0 && i < n;
    return i;
}

// The texel of a texture holding frame pixels from `origin` on, for frame pixel i along an axis
// of n pixels as the edge mode names it; `weight` becomes 0 where it names none. Held within the
// texture: no read lands beyond what was drawn.
int texelIndex(float i, float n, int origin, int last, inout float weight) {
    bool inside;
    float k = wrapCell(i, n, inside);
    weight = inside ? weight : 0.0;
    return clamp(int(k) - origin, 0, last);
}

// A position s (texels less half a texel: whole numbers at their centres) along axes of n texels,
// placed to 1/512 of a texel, which any position within twice a 16384-texel frame holds exactly
// in single precision, whole origins taken away included (a GPU places a filtered read to 1/256
// anyway). A position the float chain leaves a rounding step off a texel centre reads that
// texel, so that no displacement is an exact copy. Repeat and Mirror Repeat first bring it within
// one period, which reads the same texels; the other edge modes hold it just beyond the frame,
// where every read is the border's or the edge's.
vec2 placed(vec2 s, vec2 n) {
    if (wrapL == 1) s -= n * floor(s / n);
    else if (wrapL == 2) s -= 2.0 * n * floor(s / (2.0 * n));
    else s = clamp(s, vec2(-4.0), n + 4.0);
    return floor(s * 512.0 + 0.5) * (1.0 / 512.0);
}

// Repeat and Mirror Repeat, which rectangle textures do not hold, are read texel by texel; the
// other edge modes are the textures' own.
bool edgeByTexel() { return wrapL == 1 || wrapL == 2; }

// A texture holding frame pixels from `origin` on, filtered linearly at s (frame pixels, less
// half a pixel: whole numbers at the pixels' centres).
vec4 linearAt(sampler2DRect tex, ivec2 origin, vec2 s) {
    s = placed(s, resV);
    if (!edgeByTexel()) return texture(tex, s - vec2(origin) + 0.5);
    vec2 i = floor(s);
    vec2 f = s - i;
    ivec2 last = textureSize(tex) - 1;
    float wx0 = 1.0 - f.x, wx1 = f.x, wy0 = 1.0 - f.y, wy1 = f.y;
    int x0 = texelIndex(i.x, resV.x, origin.x, last.x, wx0);
    int x1 = texelIndex(i.x + 1.0, resV.x, origin.x, last.x, wx1);
    int y0 = texelIndex(i.y, resV.y, origin.y, last.y, wy0);
    int y1 = texelIndex(i.y + 1.0, resV.y, origin.y, last.y, wy1);
    return wy0 * (wx0 * texelFetch(tex, ivec2(x0, y0)) + wx1 * texelFetch(tex, ivec2(x1, y0))) +
           wy1 * (wx0 * texelFetch(tex, ivec2(x0, y1)) + wx1 * texelFetch(tex, ivec2(x1, y1)));
}

// Two neighbouring cells (i and i + 1) along an axis of a grid of n, as the upsampling saw them,
// and their shares of a point a fraction f past the first. Under Repeat and Mirror the input's
// wrap repeats them, so they only move by whole periods, to the grid; Edge Repeat holds them on
// its edge cells; with no edge mode a cell beyond the grid has no share.
void cellPair(float i, float n, float f, out vec2 cells, out vec2 shares) {
    shares = vec2(1.0 - f, f);
    if (wrapL == 1 || wrapL == 2) {
        float period = wrapL == 1 ? n : 2.0 * n;
        cells = vec2(i, i + 1.0) - period * floor(i / period);
    } else {
        bool inside0, inside1;
        cells = vec2(wrapCell(i, n, inside0), wrapCell(i + 1.0, n, inside1));
        shares *= vec2(bvec2(inside0, inside1));
    }
}

// Along one axis, the input's taps for two supersampled cells in their shares: each cell the
// upsampling's B-spline at its centre ((cell + 0.5) / cells per pixel, exact for 2 and 4) over
// four texels; the two cells lie at most half a texel apart, so together they take five texels
// from `first` on. Read as three filtered pairs, each at its place (in texels from `first`, to
// 1/512) with its weight; `split` gives the five texels' own weights that the pairs make.
void upsampledTaps(vec2 cells, vec2 shares, float cellsPerPixel, out float first, out vec3 places,
                   out vec3 weights, out float split[5]) {
    vec2 t = (cells + 0.5) / cellsPerPixel - 0.5;
    float base = floor(t.x);
    vec4 w0 = cubic(t.x - base) * shares.x;
    vec4 w1 = cubic(t.y - floor(t.y)) * shares.y;
    bool same = floor(t.y) == base;
    vec4 k = w0 + (same ? w1 : vec4(0.0, w1.xyz));
    weights = vec3(k.x + k.y, k.z + k.w, same ? 0.0 : w1.w);
    vec2 parts = floor(vec2(k.y, k.w) / max(weights.xy, vec2(1e-30)) * 512.0 + 0.5) / 512.0;
    first = base - 1.0;
    places = vec3(parts.x, 2.0 + parts.y, 4.0);
    split[0] = weights.x * (1.0 - parts.x);
    split[1] = weights.x * parts.x;
    split[2] = weights.y * (1.0 - parts.y);
    split[3] = weights.y * parts.y;
    split[4] = weights.z;
}

// The upsampled input as a linear read of the upsampled frame would see it, at s (supersampled
// cells, less half a cell), without the upsampled frame: the two cells either side along each
// axis, each the B-spline of the input at its centre, blended by their distances. The pairs'
// texels are read one by one under Repeat and Mirror Repeat and from an input of bytes.
vec4 upsampledAt(vec2 s) {
    s = placed(s, gridSize);
    vec2 i = floor(s);
    vec2 f = s - i;
    float cellsPerPixel = gridSize.x / resV.x;
    vec2 cx, sx, cy, sy;
    cellPair(i.x, gridSize.x, f.x, cx, sx);
    cellPair(i.y, gridSize.y, f.y, cy, sy);
    float firstX, firstY;
    vec3 px, wx, py, wy;
    float tx[5], ty[5];
    upsampledTaps(cx, sx, cellsPerPixel, firstX, px, wx, tx);
    upsampledTaps(cy, sy, cellsPerPixel, firstY, py, wy, ty);
    vec4 sum = vec4(0.0);
    if (!edgeByTexel() && inBytes == 0) {
        vec2 at = vec2(firstX, firstY) - vec2(inOrigin) + 0.5;
        for (int j = 0; j < 3; ++j) {
            vec4 row = wx.x * texture(inTex, at + vec2(px.x, py[j])) +
                       wx.y * texture(inTex, at + vec2(px.y, py[j])) +
                       wx.z * texture(inTex, at + vec2(px.z, py[j]));
            sum += wy[j] * row;
        }
        return sum;
    }
    ivec2 last = textureSize(inTex) - 1;
    int ax[5], ay[5];
    for (int k = 0; k < 5; ++k) {
        ax[k] = texelIndex(firstX + float(k), resV.x, inOrigin.x, last.x, tx[k]);
        ay[k] = texelIndex(firstY + float(k), resV.y, inOrigin.y, last.y, ty[k]);
    }
    for (int j = 0; j < 5; ++j) {
        vec4 row = vec4(0.0);
        for (int k = 0; k < 5; ++k) row += tx[k] * texelFetch(inTex, ivec2(ax[k], ay[j]));
        sum += ty[j] * row;
    }
    return sum;
}

// The move `d` (frame pixels) from cell `cell`'s centre, read from the input.
vec4 sampleInput(vec2 cell, vec2 d) {
    if (perPixel > 1) return upsampledAt(cell + d * (gridSize.x / resV.x));
    return linearAt(inTex, inOrigin, cell + d);
}

// The texel of a texture holding frame pixels from `origin` on, at a frame pixel.
vec4 texelAt(sampler2DRect tex, ivec2 origin, ivec2 pixel) {
    return texelFetch(tex, clamp(pixel - origin, ivec2(0), textureSize(tex) - 1));
}

// The map layer's texel at a grid cell, premultiplied as the map pass premultiplies; nothing
// beyond the layer.
vec4 mapTexel(ivec2 cell) {
    ivec2 c = cell - mapOrigin;
    if (any(lessThan(c, ivec2(0))) || any(greaterThanEqual(c, textureSize(displaceTex)))) {
        return vec4(0.0);
    }
    vec4 m = texelFetch(displaceTex, c);
    m.rgb *= m.a;
    return m;
}

// The softened map, four pixels of a row a texel, at a frame pixel: its value in red.
vec4 packedAt(ivec2 pixel) {
    ivec2 c = clamp(ivec2(pixel.x >> 2, pixel.y) - mapOrigin, ivec2(0), textureSize(displaceTex) - 1);
    return vec4(texelFetch(displaceTex, c)[pixel.x & 3]);
}

// The softened map on its cells at x (frame pixels), as a cubic B-spline of the cells around it
// (read as four filtered fetches, each placed to 1/512 of a cell): smooth where a linear read
// would ripple at the cells' spacing. A supersampled read between a frame's edge pixel and the
// one beyond, where a map on the frame's grid has the edge mode decide, takes the edge pixel's
// own value under Edge Repeat, and none of the one beyond where there is none.
vec4 cellsAt(vec2 x) {
    float share = 1.0;
    if (perPixel > 1 && wrapL == 3) x = clamp(x, vec2(0.5), resV - 0.5);
    if (perPixel > 1 && wrapL == 0) {
        vec2 s = x - 0.5;
        vec2 i = floor(s);
        vec2 f = s - i;
        vec2 within = mix(vec2(0.0), 1.0 - f, greaterThanEqual(i, vec2(0.0))) +
                      mix(vec2(0.0), f, lessThan(i + 1.0, resV));
        share = within.x * within.y;
    }
    // Cells at whole numbers, their centres the cells' own.
    vec2 s = x / mapCells - 0.5;
    vec2 i = floor(s);
    vec4 wx = cubic(s.x - i.x), wy = cubic(s.y - i.y);
    vec4 g = vec4(wx.x + wx.y, wx.z + wx.w, wy.x + wy.y, wy.z + wy.w);
    vec4 at = vec4(i.x - 1.0, i.x + 1.0, i.y - 1.0, i.y + 1.0) + vec4(wx.y, wx.w, wy.y, wy.w) / g;
    at = floor(at * 512.0 + 0.5) * (1.0 / 512.0) + 0.5 - vec4(mapOrigin.xx, mapOrigin.yy);
    vec4 m = g.z * (g.x * texture(displaceTex, at.xz) + g.y * texture(displaceTex, at.yz)) +
             g.w * (g.x * texture(displaceTex, at.xw) + g.y * texture(displaceTex, at.yw));
    return share * m;
}

// The map where the cell's centre lies: a direct frame reads its own pixel, a supersampled one
// the map (which stays at the frame's size) between pixels, or the input upsampled at the cell.
vec4 mapAt(ivec2 cell, vec2 x) {
    if (usingAuxTex == 0) {
        return perPixel > 1 ? upsampledAt(vec2(cell)) : texelAt(inTex, inOrigin, cell);
    }
    if (mapFetchL == 1) return mapTexel(cell);
    if (mapFetchL == 2) return cellsAt(x);
    if (mapFetchL == 3) return packedAt(cell);
    if (perPixel > 1) return linearAt(displaceTex, mapOrigin, x - 0.5);
    return texelAt(displaceTex, mapOrigin, cell);
}

vec4 displaced(vec2 cell, vec2 x, float g) {
    return sampleInput(cell, modifyCoords(x, g * translateX, g * translateY, g * (rot * 0.0174533),
                                          scaleFactor(g, scaleX), scaleFactor(g, scaleY)));
}

// One cell of the grid: its displaced read, in the host's order.
vec4 sampleAt(ivec2 at) {
    vec2 cell = vec2(at);
    // The cell's centre in frame pixels: exact, the cells per pixel being 1, 2 or 4.
    vec2 x = (cell + 0.5) / (gridSize / resV);
    vec4 m = mapAt(at, x);

    float grey = 0.0;
    if (srcL == 1) grey = m.r;
    else if (srcL == 2) grey = m.g;
    else if (srcL == 3) grey = m.b;
    else if (srcL == 4) grey = m.a;
    else if (srcHsv && srcL == 6) grey = rgb2hsv(m.rgb).x;
    else if (srcHsv && srcL == 7) grey = rgb2hsv(m.rgb).y;
    else if (srcL == 8) grey = (m.r + m.g + m.b) * 0.33333333;

    if (invert == 1) grey = 1.0 - grey;
    grey = grey + offsetF;
    if (easingL > 1) grey = ease(grey);
    if (gammaF != 1.0) grey = pow(grey, gammaF);
    // Keeps the scale factor finite for a map value of 0.
    if (grey == 0.0) grey = 0.00001;

    vec4 c;
    if (usingCA == 1) {
        float greyR = grey * redMult;
        float greyB = grey * blueMult;
        grey = grey * greenMult;
        c = displaced(cell, x, grey);
        c.r = displaced(cell, x, greyR).r;
        c.b = displaced(cell, x, greyB).b;
    } else {
        c = displaced(cell, x, grey);
    }

    if (dstL == 1) c = vec4(grey, grey, grey, 1.0);

    return finiteOrZero(vec4(c.a, c.r, c.g, c.b));
}

// A supersampled pixel's cells, summed a row at a time. A program made for one frame's settings
// writes them out: on llvmpipe a loop over them took twice the time.
#define CELL(i, j) sampleAt(first + ivec2(i, j))
#define ROW2(j) (CELL(0, j) + CELL(1, j))
#define ROW4(j) (((CELL(0, j) + CELL(1, j)) + CELL(2, j)) + CELL(3, j))

void main() {
    ivec2 pixel = gridOrigin + ivec2(gl_FragCoord.xy);
    ivec2 first = pixel * perPixel;
    // Sums of huge finite samples can overflow: the host's float buffer still gets no infinity.
#if !defined(VEXO_PER_PIXEL)
    if (perPixel <= 1) {
        FragColor = sampleAt(pixel);
    } else {
        vec4 sum = vec4(0.0);
        for (int j = 0; j < perPixel; ++j) {
            vec4 row = vec4(0.0);
            for (int i = 0; i < perPixel; ++i) row += CELL(i, j);
            sum += row;
        }
        FragColor = finiteOrZero(sum / float(perPixel * perPixel));
    }
#elif VEXO_PER_PIXEL == 1
    FragColor = sampleAt(pixel);
#elif VEXO_PER_PIXEL == 2
    FragColor = finiteOrZero((ROW2(0) + ROW2(1)) * 0.25);
#else
    FragColor = finiteOrZero((((ROW4(0) + ROW4(1)) + ROW4(2)) + ROW4(3)) * 0.0625);
#endif
}
