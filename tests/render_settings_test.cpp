// Control values to render settings, and the map placement matrix.
#include <gtest/gtest.h>

#include <GL/glew.h>

#include <cstring>

#include "params/param_table.h"
#include "render/render_settings.h"
#include "tests/support/displace_model.h"

namespace {

class SettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::memset(defs_, 0, sizeof defs_);
        std::memset(&p_, 0, sizeof p_);
        input_ = PF_LayerDef{};
        input_.width = 1920;
        input_.height = 1080;
        p_.inputWorld = &input_;
        // Defaults as a new instance has them.
        Popup(kParamChannel, kChannelLuminance);
        Slider(kParamMapGamma, 1);
        Popup(kParamDisplacementEasing, kEasingNone);
        defs_[kParamUniformScale].u.bd.value = 1;
        Slider(kParamScaleX, 100);
        Slider(kParamScaleY, 100);
        Slider(kParamRedMultiplier, 1);
        Slider(kParamGreenMultiplier, 1);
        Slider(kParamBlueMultiplier, 1);
        Popup(kParamEdgeBehavior, kEdgeNone);
        Popup(kParamAntiAliasing, kAntiAliasingNone);
        Popup(kParamView, kViewResult);
    }
    void Slider(int index, double v) { defs_[index].u.fs_d.value = v; }
    void Popup(int index, int v) { defs_[index].u.pd.value = v; }
    const myParams& Resolve(PF_RationalScale downsample = {1, 1}) {
        p_.frameSize = {float(input_.width), float(input_.height)};
        ResolveRenderSettings(defs_, 32, downsample, &p_);
        return p_;
    }

    PF_ParamDef defs_[kParamCount];
    PF_LayerDef input_;
    myParams p_;
};

TEST_F(SettingsTest, PercentagesDegreesAndUniformScale) {
    Slider(kParamTranslateX, 25);
    Slider(kParamTranslateY, -50);
    defs_[kParamRotate].u.ad.value = 45 * 65536 + 32768;  // 45.5 degrees, 16.16
    Slider(kParamScaleX, 50);
    Slider(kParamScaleY, 300);
    Slider(kParamAnchorX, 50);
    const myParams& p = Resolve();
    EXPECT_DOUBLE_EQ(p.shiftX, 0.25);
    EXPECT_DOUBLE_EQ(p.shiftY, -0.5);
    EXPECT_DOUBLE_EQ(p.rotationDeg, 45.5);
    EXPECT_DOUBLE_EQ(p.scaleFactorX, 0.5);
    EXPECT_DOUBLE_EQ(p.scaleFactorY, 0.5);  // uniform scale takes Scale X for both
    EXPECT_DOUBLE_EQ(p.anchorU, 0.5);
    defs_[kParamUniformScale].u.bd.value = 0;
    EXPECT_DOUBLE_EQ(Resolve().scaleFactorY, 3.0);
}

TEST_F(SettingsTest, AberrationSwitchesOnOutsideATolerance) {
    Slider(kParamRedMultiplier, 1.0005);
    EXPECT_FALSE(Resolve().caEnabled);
    for (int index : {kParamRedMultiplier, kParamGreenMultiplier, kParamBlueMultiplier}) {
        SetUp();
        Slider(index, 1.002);
        EXPECT_TRUE(Resolve().caEnabled) << index;
        Slider(index, 0.998);
        EXPECT_TRUE(Resolve().caEnabled) << index;
    }
}

TEST_F(SettingsTest, SoftnessFollowsTheResolution) {
    Slider(kParamMapSoftness, 4);
    EXPECT_DOUBLE_EQ(Resolve({1, 2}).blurRadius, 2.0);
    EXPECT_DOUBLE_EQ(p_.downsampleX, 0.5);
    Slider(kParamMapSoftness, 0.2);
    EXPECT_DOUBLE_EQ(Resolve({1, 2}).blurRadius, 0.1);  // not above 0.1: no blur passes
}

TEST_F(SettingsTest, PopupsToGLStateAndSizes) {
    for (const vexo_model::EdgeWrap& e : vexo_model::kEdgeWraps) {
        Popup(kParamEdgeBehavior, e.edge);
        EXPECT_EQ(Resolve().wrapMode, e.wrap) << e.edge;
    }
    Popup(kParamEdgeBehavior, 2);  // the separator
    EXPECT_EQ(Resolve().wrapMode, GL_CLAMP_TO_BORDER);
    Popup(kParamAntiAliasing, kAntiAliasing4x);
    const myParams& p = Resolve();
    EXPECT_EQ(p.aaFactor, 4.0f);
    EXPECT_EQ(p.superSize.x, 7680.0f);
    EXPECT_EQ(p.superSize.y, 4320.0f);
    EXPECT_FALSE(p.hasMap);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(p.identityXform[i], i % 5 == 0 ? 1.0f : 0.0f);
    for (float v : p.mapXform) EXPECT_EQ(v, 0.0f);  // no map: never set
}

// The matrix applied to a quad corner as the vertex stage does: row vector times the matrix
// as GL reads the 16 floats (column after column).
void Place(const float* m, float x, float y, float* out) {
    for (int col = 0; col < 2; ++col) {
        out[col] = x * m[4 * col + 0] + y * m[4 * col + 1] + m[4 * col + 3];
    }
}

TEST(VertexMatrices, MapLandsAtItsOwnSizeAndOrigin) {
    PF_LayerDef input{}, map{};
    input.width = 200, input.height = 100;
    map.width = 200, map.height = 100;
    map.origin_x = 10;
    myParams p{};
    GenVertexMatrices(&p, &map, &input);
    float corner[2];
    Place(p.mapXform, -1, -1, corner);
    EXPECT_NEAR(corner[0], -1 + 2.0f * 10 / 200, 1e-6f);  // ten pixels right
    EXPECT_NEAR(corner[1], -1, 1e-6f);

    map.width = 50, map.height = 25, map.origin_x = -20, map.origin_y = 30;
    GenVertexMatrices(&p, &map, &input);
    for (float x : {-1.0f, 1.0f}) {
        for (float y : {-1.0f, 1.0f}) {
            Place(p.mapXform, x, y, corner);
            // x' = sx (x + 1) - 1 + 2 (map origin - input origin) / input size
            EXPECT_NEAR(corner[0], 0.25f * (x + 1) - 1 + 2.0f * -20 / 200, 1e-6f);
            EXPECT_NEAR(corner[1], 0.25f * (y + 1) - 1 + 2.0f * 30 / 100, 1e-6f);
        }
    }
}

TEST(DisplaceUniforms, EveryEntryWithItsType) {
    myParams p{};
    p.hasMap = true;
    p.channelMode = 6;
    p.viewMode = 1;
    p.easingMode = 5.0;
    p.mapGamma = 2.2;
    p.scaleFactorY = 3;
    p.frameSize = Vec2f{640, 360};
    UniformMap uniforms;
    uniforms["srcL"] = VEC(99.0f);  // replaced, not kept
    SendDisplaceUniforms(uniforms, &p);
    EXPECT_EQ(uniforms.size(), 19u);
    EXPECT_EQ(uniforms["usingAuxTex"].type, kUniformInt);
    EXPECT_EQ(uniforms["usingAuxTex"].value.i[0], 1);
    EXPECT_EQ(uniforms["srcL"].type, kUniformInt);
    EXPECT_EQ(uniforms["srcL"].value.i[0], 6);
    EXPECT_EQ(uniforms["easingL"].value.i[0], 5);
    EXPECT_EQ(uniforms["gammaF"].type, kUniformFloat);
    EXPECT_EQ(uniforms["gammaF"].value.f[0], 2.2f);
    EXPECT_EQ(uniforms["scaleY"].value.f[0], 3.0f);
    EXPECT_EQ(uniforms["resV"].type, kUniformFloat2);
    EXPECT_EQ(uniforms["resV"].value.f[1], 360.0f);
}

}  // namespace
