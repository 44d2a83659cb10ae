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
    Vec2f frameSize;
    Vec2f superSize;
};

void GenIdentityMatrix(myParams* params);
// Places the map layer's pixels on the input's pixel grid, offset by the difference of the two
// buffers' origins.
void GenVertexMatrices(myParams* params, PF_LayerDef* map, PF_LayerDef* input);
// Adds the displacement program's value uniforms.
void SendDisplaceUniforms(UniformMap& uniforms, myParams* params);

// Fills `params` from the checked-out definitions (indexed by parameter position), the layers
// and the render's bit depth and downsample factor. The layer pointers must already be set.
void ResolveRenderSettings(const PF_ParamDef defs[], int16_t bitDepth,
                           const PF_RationalScale& downsample_x, myParams* params);
