// Names kept for older plug-ins and hosts: YUVA images, normalised parameter types and the
// analysis pass. New code uses the canonical-coordinate double types of ofxParam.h instead.
#ifndef VEXO_OFX_OLD_H
#define VEXO_OFX_OLD_H

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxImageComponentYUVA "OfxImageComponentYUVA"
#define kOfxImageEffectPropInAnalysis "OfxImageEffectPropInAnalysis"
// The string ends in "Viewport", without "Size".
#define kOfxInteractPropViewportSize "OfxInteractPropViewport"

#define kOfxParamDoubleTypeNormalisedX "OfxParamDoubleTypeNormalisedX"
#define kOfxParamDoubleTypeNormalisedY "OfxParamDoubleTypeNormalisedY"
#define kOfxParamDoubleTypeNormalisedXAbsolute "OfxParamDoubleTypeNormalisedXAbsolute"
#define kOfxParamDoubleTypeNormalisedYAbsolute "OfxParamDoubleTypeNormalisedYAbsolute"
#define kOfxParamDoubleTypeNormalisedXY "OfxParamDoubleTypeNormalisedXY"
#define kOfxParamDoubleTypeNormalisedXYAbsolute "OfxParamDoubleTypeNormalisedXYAbsolute"

typedef struct OfxYUVAColourB {
    unsigned char y, u, v, a;
} OfxYUVAColourB;

typedef struct OfxYUVAColourS {
    unsigned short y, u, v, a;
} OfxYUVAColourS;

typedef struct OfxYUVAColourF {
    float y, u, v, a;
} OfxYUVAColourF;

#ifdef __cplusplus
}
#endif

#endif
