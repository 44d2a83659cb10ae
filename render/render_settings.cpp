#include "render/render_settings.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/mat4x4.hpp>

#include "params/param_table.h"

void GenIdentityMatrix(myParams* params) {
    std::memset(params->identityXform, 0, sizeof params->identityXform);
    for (int i = 0; i < 4; ++i) params->identityXform[5 * i] = 1.0f;
}

void GenVertexMatrices(myParams* params, PF_LayerDef* map, PF_LayerDef* input) {
    // Origins may lie anywhere in the composition: their difference is taken in double, where
    // it cannot overflow.
    PlaceQuad(params, map->width, map->height, double(map->origin_x) - double(input->origin_x),
              double(map->origin_y) - double(input->origin_y), input->width, input->height);
}

void PlaceQuad(myParams* params, double width, double height, double x, double y,
               double target_width, double target_height) {
    const float sx = float(width / target_width);
    const float sy = float(height / target_height);
    const float tx = float(2.0 * x / target_width / double(sx));
    const float ty = float(2.0 * y / target_height / double(sy));
    const glm::mat4 identity(1.0f);
    const glm::mat4 m = glm::translate(identity, glm::vec3(-1.0f, -1.0f, 0.0f)) *
                        glm::scale(identity, glm::vec3(sx, sy, 1.0f)) *
                        glm::translate(identity, glm::vec3(1.0f, 1.0f, 0.0f)) *
                        glm::translate(identity, glm::vec3(tx, ty, 0.0f));
    // GLM indexes column first; the record is row by row.
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) params->mapXform[4 * r + c] = m[c][r];
    }
}

void SendDisplaceUniforms(UniformMap& uniforms, myParams* p) {
    uniforms["usingAuxTex"] = IVEC(p->hasMap ? 1 : 0);
    uniforms["invert"] = IVEC(p->invertMap ? 1 : 0);
    uniforms["srcL"] = IVEC(p->channelMode);
    uniforms["dstL"] = IVEC(p->viewMode);
    uniforms["usingCA"] = IVEC(p->caEnabled ? 1 : 0);
    uniforms["easingL"] = IVEC(int(p->easingMode));
    uniforms["offsetF"] = VEC(float(p->mapOffset));
    uniforms["gammaF"] = VEC(float(p->mapGamma));
    uniforms["redMult"] = VEC(float(p->caRed));
    uniforms["greenMult"] = VEC(float(p->caGreen));
    uniforms["blueMult"] = VEC(float(p->caBlue));
    uniforms["rot"] = VEC(float(p->rotationDeg));
    uniforms["anchorX"] = VEC(float(p->anchorU));
    uniforms["anchorY"] = VEC(float(p->anchorV));
    uniforms["translateX"] = VEC(float(p->shiftX));
    uniforms["translateY"] = VEC(float(p->shiftY));
    uniforms["scaleX"] = VEC(float(p->scaleFactorX));
    uniforms["scaleY"] = VEC(float(p->scaleFactorY));
    uniforms["resV"] = VEC2(p->frameSize);
}

namespace {

int32_t WrapMode(int32_t edge_behavior) {
    switch (edge_behavior) {
        case kEdgeRepeat:
            return GL_REPEAT;
        case kEdgeMirrorRepeat:
            return GL_MIRRORED_REPEAT;
        case kEdgeEdgeRepeat:
            return GL_CLAMP_TO_EDGE;
        default:
            return GL_CLAMP_TO_BORDER;
    }
}

float SupersampleFactor(int32_t anti_aliasing) {
    switch (anti_aliasing) {
        case kAntiAliasing2x:
            return 2.0f;
        case kAntiAliasing4x:
            return 4.0f;
        default:
            return 1.0f;
    }
}

bool OffUnity(double multiplier) { return multiplier > 1.001 || multiplier < 0.999; }

// The blur takes one tap per pixel of radius. A softness past the control's range (left by an
// expression or a damaged project, or scaled by a factor above one) would keep the GPU on one
// frame for as long as it likes, and one that is no number would blur into NaN: the radius is
// held to what the control itself allows.
double BlurRadius(double softness, double downsample) {
    const double radius = softness * downsample;
    if (!(radius > 0.0)) return 0.0;
    return std::min(radius, double(FindParamRow(kParamMapSoftness)->valid_max));
}

}  // namespace

void ResolveRenderSettings(const PF_ParamDef defs[], int16_t bitDepth,
                           const PF_RationalScale& downsample_x, myParams* p) {
    const auto slider = [&](int index) { return defs[index].u.fs_d.value; };
    const auto popup = [&](int index) { return int32_t(defs[index].u.pd.value); };
    const auto checked = [&](int index) { return defs[index].u.bd.value != 0; };

    p->aaMode = popup(kParamAntiAliasing);
    p->aaFactor = SupersampleFactor(p->aaMode);
    p->superSize = Vec2f{p->frameSize.x * p->aaFactor, p->frameSize.y * p->aaFactor};
    GenIdentityMatrix(p);

    p->bitDepth = bitDepth;
    p->pixelAspect = 1.0;
    p->downsampleX = downsample_x.den ? double(downsample_x.num) / double(downsample_x.den) : 1.0;
    p->hasMap = p->mapWorld != nullptr;
    p->channelMode = popup(kParamChannel);
    p->invertMap = checked(kParamInvertMap);
    p->mapGamma = slider(kParamMapGamma);
    p->blurRadius = BlurRadius(slider(kParamMapSoftness), p->downsampleX);
    p->mapOffset = slider(kParamDisplacementOffset);
    p->easingMode = popup(kParamDisplacementEasing);
    p->shiftX = slider(kParamTranslateX) * 0.01;
    p->shiftY = slider(kParamTranslateY) * 0.01;
    p->rotationDeg = defs[kParamRotate].u.ad.value * (1.0 / 65536.0);
    p->scaleFactorX = slider(kParamScaleX) * 0.01;
    p->scaleFactorY =
        (checked(kParamUniformScale) ? slider(kParamScaleX) : slider(kParamScaleY)) * 0.01;
    p->anchorU = slider(kParamAnchorX) * 0.01;
    p->anchorV = slider(kParamAnchorY) * 0.01;
    p->caRed = slider(kParamRedMultiplier);
    p->caGreen = slider(kParamGreenMultiplier);
    p->caBlue = slider(kParamBlueMultiplier);
    p->caEnabled = OffUnity(p->caRed) || OffUnity(p->caGreen) || OffUnity(p->caBlue);
    p->wrapMode = WrapMode(popup(kParamEdgeBehavior));
    p->viewMode = popup(kParamView);
}

namespace {

bool Finite(std::initializer_list<double> values) {
    return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

}  // namespace

// The read is placed to 1/512 of a pixel, so a move under 1/1024 reads the pixel itself;
// supersampling filters the input, View=Map draws the map.
bool CopiesInput(const myParams& p) {
    if (p.viewMode != kViewResult || p.aaMode != kAntiAliasingNone || p.mapGamma != 1.0 ||
        p.scaleFactorX != 1.0 || p.scaleFactorY != 1.0 ||
        !Finite({p.shiftX, p.shiftY, p.rotationDeg, p.anchorU, p.anchorV})) {
        return false;
    }
    // Every channel's map value times zero: no move at all, whatever the transform.
    if (p.caEnabled && p.caRed == 0 && p.caGreen == 0 && p.caBlue == 0) return true;
    // No transform: the move is the unit scale factor's rounding (a few units in the last place,
    // as GLSL's division allows) times the distance from the anchor, under 1/1024 of a pixel while
    // that distance stays under 2^12 pixels. Easing and the multipliers could bring a map value
    // near no number's reach, where the factor is no longer near one.
    const double reach_x = p.frameSize.x * (1.0 + std::fabs(p.anchorU));
    const double reach_y = p.frameSize.y * (1.0 + std::fabs(p.anchorV));
    return !p.caEnabled && p.easingMode == kEasingNone && p.shiftX == 0 && p.shiftY == 0 &&
           p.rotationDeg == 0 && reach_x < 4096 && reach_y < 4096;
}
