// Pixel records, one per component set and depth. They have no padding: an RGB byte pixel is
// 3 bytes, a short one 6.
#ifndef VEXO_OFX_PIXELS_H
#define VEXO_OFX_PIXELS_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct OfxRGBAColourB {
    unsigned char r, g, b, a;
} OfxRGBAColourB;

typedef struct OfxRGBAColourS {
    unsigned short r, g, b, a;
} OfxRGBAColourS;

typedef struct OfxRGBAColourF {
    float r, g, b, a;
} OfxRGBAColourF;

typedef struct OfxRGBAColourD {
    double r, g, b, a;
} OfxRGBAColourD;

typedef struct OfxRGBColourB {
    unsigned char r, g, b;
} OfxRGBColourB;

typedef struct OfxRGBColourS {
    unsigned short r, g, b;
} OfxRGBColourS;

typedef struct OfxRGBColourF {
    float r, g, b;
} OfxRGBColourF;

typedef struct OfxRGBColourD {
    double r, g, b;
} OfxRGBColourD;

#ifdef __cplusplus
}
#endif

#endif
