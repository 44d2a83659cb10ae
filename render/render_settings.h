// One frame's resolved settings: the checked-out control values converted once, in double
// precision, into what the GPU passes read.
#pragma once
#include <cstdint>

#include "AE_Effect.h"
#include "gl/binding.h"

struct myParams {
    int16_t bitDepth;
    PF_LayerDef* inputWorld;
    PF_LayerDef* outputWorld;
    PF_LayerDef* mapWorld;  // null when "Map Layer" names no layer
    double downsampleX;
    float mapXform[16];       // map placement, row by row; set only when a map is present
    float identityXform[16];  // row by row
    int32_t channelMode;
    int32_t viewMode;
    double shiftX, shiftY;
    double rotationDeg;
    double pixelAspect;  // a pixel's width over its height, which the rotation keeps square
    double scaleFactorX, scaleFactorY;
    double anchorU, anchorV;
    int32_t wrapMode;
    bool hasMap;
    bool invertMap;
    double mapOffset;
    double mapGamma;
    double blurRadius;
    double easingMode;
    bool caEnabled;
    double caRed, caGreen, caBlue;
    int32_t aaMode;
    float aaFactor;
    Vec2f frameSize;  // the input layer's extent
    Vec2f superSize;
    // Where the input buffer's first pixel lies on the frame; every other buffer is placed from
    // it by the difference of its origin and the input's.
    int64_t inputOffsetX, inputOffsetY;
};

void GenIdentityMatrix(myParams* params);
// Places the map layer's pixels on the input's pixel grid, offset by the difference of the two
// buffers' origins.
void GenVertexMatrices(myParams* params, PF_LayerDef* map, PF_LayerDef* input);
// The same for a picture of `width` by `height` pixels whose corner lies `x`, `y` pixels from the
// corner of a target of `target_width` by `target_height`.
void PlaceQuad(myParams* params, double width, double height, double x, double y,
               double target_width, double target_height);
// Adds the displacement program's value uniforms.
void SendDisplaceUniforms(UniformMap& uniforms, myParams* params);

// Fills `params` from the checked-out definitions (indexed by parameter position), the layers
// and the render's bit depth and downsample factor. The layer pointers and the frame's size must
// already be set.
void ResolveRenderSettings(const PF_ParamDef defs[], int16_t bitDepth,
                           const PF_RationalScale& downsample_x, myParams* params);
// Whether the settings make the render an exact copy of its input, for a bounded map (a finite
// map value under gamma 1): no move reaches a pixel's neighbour.
bool CopiesInput(const myParams& params);
