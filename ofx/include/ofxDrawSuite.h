// Drawing for overlays without OpenGL: a V2 overlay's draw action brings a draw context in
// kOfxInteractPropDrawContext.
#ifndef VEXO_OFX_DRAWSUITE_H
#define VEXO_OFX_DRAWSUITE_H

#include "ofxCore.h"
#include "ofxPixels.h"

#ifdef __cplusplus
extern "C" {
#endif

#define kOfxDrawSuite "OfxDrawSuite"
#define kOfxInteractPropDrawContext "OfxInteractPropDrawContext"  // pointer

typedef struct OfxDrawContext* OfxDrawContextHandle;

typedef enum OfxStandardColour {
    kOfxStandardColourOverlayBackground = 0,
    kOfxStandardColourOverlayActive = 1,
    kOfxStandardColourOverlaySelected = 2,
    kOfxStandardColourOverlayDeselected = 3,
    kOfxStandardColourOverlayMarqueeFG = 4,
    kOfxStandardColourOverlayMarqueeBG = 5,
    kOfxStandardColourOverlayText = 6
} OfxStandardColour;

typedef enum OfxDrawLineStipplePattern {
    kOfxDrawLineStipplePatternSolid = 0,
    kOfxDrawLineStipplePatternDot = 1,
    kOfxDrawLineStipplePatternDash = 2,
    kOfxDrawLineStipplePatternAltDash = 3,
    kOfxDrawLineStipplePatternDotDash = 4
} OfxDrawLineStipplePattern;

typedef enum OfxDrawPrimitive {
    kOfxDrawPrimitiveLines = 0,
    kOfxDrawPrimitiveLineStrip = 1,
    kOfxDrawPrimitiveLineLoop = 2,
    kOfxDrawPrimitiveRectangle = 3,
    kOfxDrawPrimitivePolygon = 4,
    kOfxDrawPrimitiveEllipse = 5
} OfxDrawPrimitive;

// Bit flags, one horizontal and one vertical combined; the centres are combinations.
typedef enum OfxDrawTextAlignment {
    kOfxDrawTextAlignmentLeft = 1,
    kOfxDrawTextAlignmentRight = 2,
    kOfxDrawTextAlignmentTop = 4,
    kOfxDrawTextAlignmentBottom = 8,
    kOfxDrawTextAlignmentBaseline = 16,
    kOfxDrawTextAlignmentCenterH = kOfxDrawTextAlignmentLeft | kOfxDrawTextAlignmentRight,
    kOfxDrawTextAlignmentCenterV = kOfxDrawTextAlignmentTop | kOfxDrawTextAlignmentBaseline
} OfxDrawTextAlignment;

typedef struct OfxDrawSuiteV1 {
    OfxStatus (*getColour)(OfxDrawContextHandle context, OfxStandardColour std_colour,
                           OfxRGBAColourF* colour);
    OfxStatus (*setColour)(OfxDrawContextHandle context, const OfxRGBAColourF* colour);
    OfxStatus (*setLineWidth)(OfxDrawContextHandle context, float width);
    OfxStatus (*setLineStipple)(OfxDrawContextHandle context, OfxDrawLineStipplePattern pattern);
    OfxStatus (*draw)(OfxDrawContextHandle context, OfxDrawPrimitive primitive,
                      const OfxPointD* points, int point_count);
    // alignment: OfxDrawTextAlignment flags, or'ed.
    OfxStatus (*drawText)(OfxDrawContextHandle context, const char* text, const OfxPointD* pos,
                          int alignment);
} OfxDrawSuiteV1;

#ifdef __cplusplus
}
#endif

#endif
