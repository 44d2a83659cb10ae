// TEMPORARY: parameter positions the render reads, until the parameter table header lands.
#pragma once
namespace vexo::param {
enum {
    kChannel = 2,
    kInvertMap = 4,
    kMapGamma = 5,
    kMapSoftness = 6,
    kDisplacementOffset = 7,
    kDisplacementEasing = 8,
    kTranslateX = 12,
    kTranslateY = 13,
    kRotate = 14,
    kUniformScale = 15,
    kScaleX = 16,
    kScaleY = 17,
    kAnchorX = 18,
    kAnchorY = 19,
    kRed = 25,
    kGreen = 26,
    kBlue = 27,
    kEdgeBehavior = 30,
    kAntiAliasing = 31,
    kView = 32,
    kParamCount = 40
};
}
