#version 330 core
// The effect itself: reduce the map to one value per pixel, scale the user's transform by it and
// resample the input there. Writes the host's alpha, red, green, blue order.
in vec2 out_uvs;
out vec4 FragColor;

// A program made for one frame's settings defines the VEXO_ values after the version line, and
// the compiler drops the branches they decide; without them every setting is a uniform.
uniform sampler2D inTex;
uniform sampler2D displaceTex;
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

vec2 modifyCoords(float translateXF, float translateYF, float rotF, float scaleXF, float scaleYF) {
    float sn = sin(rotF);
    float cs = cos(rotF);
    vec2 anchor = vec2(anchorX, anchorY);
    // Rotate in square pixels so that a turn does not shear a non-square frame.
    vec2 aspect = vec2(resV.y / resV.x, 1.0);
    vec2 p = (out_uvs - anchor) / aspect;
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

vec4 displaced(float g) {
    return texture(inTex, modifyCoords(g * translateX, g * translateY, g * (rot * 0.0174533),
                                       scaleFactor(g, scaleX), scaleFactor(g, scaleY)));
}

void main() {
    vec4 m = usingAuxTex == 1 ? texture(displaceTex, out_uvs) : texture(inTex, out_uvs);

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
        FragColor = displaced(grey);
        FragColor.r = displaced(greyR).r;
        FragColor.b = displaced(greyB).b;
    } else {
        FragColor = displaced(grey);
    }

    if (dstL == 1) FragColor = vec4(grey, grey, grey, 1.0);

    FragColor = finiteOrZero(vec4(FragColor.a, FragColor.r, FragColor.g, FragColor.b));
}
