#version 330 core
// The effect itself: reduce the map to one value per pixel, scale the user's transform by it and
// resample the input there. Writes the host's alpha, red, green, blue order.
out vec4 FragColor;

// A program made for one frame's settings defines the VEXO_ values after the version line, and
// the compiler drops the branches they decide; without them every setting is a uniform.
uniform sampler2D inTex;
uniform sampler2D displaceTex;
// The pixel drawn is found by its place on the grid of the whole frame (or of the supersampled
// frame), never by the part a target holds, so that every part and every tile of a frame computes
// each pixel alike. Beyond the grid's edges a pixel is the one the edge mode names there.
uniform ivec2 gridOrigin;  // the grid cell of the target's first pixel
uniform vec2 gridSize;
#ifdef VEXO_OFF_GRID
const int offGridL = VEXO_OFF_GRID;
#else
uniform int offGridL;  // 1 where some cell drawn lies beyond the grid's edges
#endif
// Where the frame's texture coordinates fall in the part of the frame each texture holds: scale
// in xy, offset in zw.
uniform vec4 inPlace;
uniform vec4 mapPlace;
#ifdef VEXO_MAP_FETCH
const int mapFetchL = VEXO_MAP_FETCH;
#else
uniform int mapFetchL;  // 1: the map is the map layer itself, read by texel in the host's order
#endif
uniform ivec2 mapOrigin;  // the grid cell of the map layer's first texel
#ifdef VEXO_BICUBIC
const int bicubicIn = VEXO_BICUBIC;
#else
uniform int bicubicIn;  // 1: the input is upsampled here, at the cells read, not ahead
#endif
#ifdef VEXO_WRAP
const int wrapL = VEXO_WRAP;
#else
uniform int wrapL;  // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels
#endif
#ifdef VEXO_AUX
const int usingAuxTex = VEXO_AUX;
#else
uniform int usingAuxTex;
#endif
#ifdef VEXO_SRC
const int srcL = VEXO_SRC;
#else
uniform int srcL;
#endif
#ifdef VEXO_INVERT
const int invert = VEXO_INVERT;
#else
uniform int invert;
#endif
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
#else
uniform float rot;
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

vec2 modifyCoords(vec2 uvs, float translateXF, float translateYF, float rotF, float scaleXF, float scaleYF) {
    float sn = sin(rotF);
    float cs = cos(rotF);
    vec2 anchor = vec2(anchorX, anchorY);
    // Rotate in square pixels so that a turn does not shear a non-square frame.
    vec2 aspect = vec2(resV.y / resV.x, 1.0);
    vec2 p = (uvs - anchor) / aspect;
    p = vec2(p.x * cs + p.y * sn, -p.x * sn + p.y * cs);
    p = p * aspect + anchor;
    vec2 q = p - vec2(translateXF, translateYF);
    return vec2(scaleXF, scaleYF) * (q - anchor) + anchor;
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

// Two neighbouring cells (i and i + 1) along an axis of a grid of n, as the upsampling saw them,
// and their shares of a point a fraction f past the first. Under Repeat and Mirror the input's
// own wrap repeats them, so they only move by whole periods, to the grid; Edge Repeat holds them
// on its edge cells; with no edge mode a cell beyond the grid has no share.
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

// Along one axis, the B-spline weights of two cells' points t0 and t1 (in texels, less half a
// texel), in their shares: five texels from floor(t0) - 1 at most, as three weights and the
// places (the texel, plus the second's part) where a filtered fetch reads each pair.
void blendedKernel(float t0, float t1, vec2 shares, out vec3 weights, out vec3 places) {
    float base = floor(t0);
    vec4 w0 = cubic(t0 - base) * shares.x;
    vec4 w1 = cubic(t1 - floor(t1)) * shares.y;
    // The cells lie at most half a texel apart: the second's taps start at the same texel or
    // the next.
    bool same = floor(t1) == base;
    vec4 k = w0 + (same ? w1 : vec4(0.0, w1.xyz));
    weights = vec3(k.x + k.y, k.z + k.w, same ? 0.0 : w1.w);
    vec2 parts = vec2(k.y, k.w) / max(weights.xy, vec2(1e-30));
    places = vec3(base - 1.0 + parts.x, base + 1.0 + parts.y, base + 3.0) + 0.5;
}

// One row of the kernel: three filtered fetches, the last of weight 0 where the cells share
// their taps (a fetch costs less than a branch around it on a SIMD rasteriser).
vec4 kernelRow(vec3 weights, vec3 places, float y) {
    return weights.x * texture(inTex, vec2(places.x, y)) +
           weights.y * texture(inTex, vec2(places.y, y)) +
           weights.z * texture(inTex, vec2(places.z, y));
}

// The upsampled input as a filtered fetch of it reads it, without the upsampled target: the
// four cells around the point, each the upsampling's B-spline at its centre, blended by their
// distances. Per axis the two B-splines and their blend are one kernel of five taps: nine
// fetches for the four reconstructions' sixteen.
vec4 textureUpsampled(vec2 uvs) {
    vec2 t = uvs * gridSize - 0.5;
    vec2 i = floor(t);
    vec2 f = t - i;
    vec2 cx, sx, cy, sy;
    cellPair(i.x, gridSize.x, f.x, cx, sx);
    cellPair(i.y, gridSize.y, f.y, cy, sy);
    vec2 size = vec2(textureSize(inTex, 0));
    // Each cell's point in the input's texels, less half a texel.
    vec4 at = (vec4(cx, cy) + 0.5) / gridSize.xxyy * inPlace.xxyy + inPlace.zzww;
    at = at * size.xxyy - 0.5;
    vec3 wx, px, wy, py;
    blendedKernel(at.x, at.y, sx, wx, px);
    blendedKernel(at.z, at.w, sy, wy, py);
    px /= size.x;
    py /= size.y;
    return wy.x * kernelRow(wx, px, py.x) + wy.y * kernelRow(wx, px, py.y) +
           wy.z * kernelRow(wx, px, py.z);
}

vec4 sampleInput(vec2 uvs) {
    return bicubicIn == 1 ? textureUpsampled(uvs) : texture(inTex, uvs * inPlace.xy + inPlace.zw);
}

// The map layer's texel at a grid cell, premultiplied as the map pass premultiplies; nothing
// beyond the layer.
vec4 mapTexel(ivec2 cell) {
    ivec2 c = cell - mapOrigin;
    if (any(lessThan(c, ivec2(0))) || any(greaterThanEqual(c, textureSize(displaceTex, 0)))) {
        return vec4(0.0);
    }
    vec4 m = texelFetch(displaceTex, c, 0);
    m.rgb *= m.a;
    return m;
}

vec4 displaced(vec2 uvs, float g) {
    return sampleInput(modifyCoords(uvs, g * translateX, g * translateY, g * (rot * 0.0174533),
                                    scaleFactor(g, scaleX), scaleFactor(g, scaleY)));
}

void main() {
    vec2 at = vec2(gridOrigin + ivec2(gl_FragCoord.xy));
    if (offGridL == 1) {
        bool insideX, insideY;
        at = vec2(wrapCell(at.x, gridSize.x, insideX), wrapCell(at.y, gridSize.y, insideY));
        if (!(insideX && insideY)) {
            FragColor = vec4(0.0);
            return;
        }
    }
    vec2 uvs = (at + 0.5) / gridSize;
    vec4 m;
    if (usingAuxTex == 0) m = sampleInput(uvs);
    else if (mapFetchL == 1) m = mapTexel(ivec2(at));
    else m = texture(displaceTex, uvs * mapPlace.xy + mapPlace.zw);

    float grey = 0.0;
    if (srcL == 1) grey = m.r;
    else if (srcL == 2) grey = m.g;
    else if (srcL == 3) grey = m.b;
    else if (srcL == 4) grey = m.a;
    else if (srcL == 6) grey = rgb2hsv(m.rgb).x;
    else if (srcL == 7) grey = rgb2hsv(m.rgb).y;
    else if (srcL == 8) grey = (m.r + m.g + m.b) * 0.33333333;

    if (invert == 1) grey = 1.0 - grey;
    grey = grey + offsetF;
    if (easingL > 1) grey = ease(grey);
    if (gammaF != 1.0) grey = pow(grey, gammaF);
    // Keeps the scale factor finite for a map value of 0.
    if (grey == 0.0) grey = 0.00001;

    if (usingCA == 1) {
        float greyR = grey * redMult;
        float greyB = grey * blueMult;
        grey = grey * greenMult;
        FragColor = displaced(uvs, grey);
        FragColor.r = displaced(uvs, greyR).r;
        FragColor.b = displaced(uvs, greyB).b;
    } else {
        FragColor = displaced(uvs, grey);
    }

    if (dstL == 1) FragColor = vec4(grey, grey, grey, 1.0);

    FragColor = finiteOrZero(vec4(FragColor.a, FragColor.r, FragColor.g, FragColor.b));
}
