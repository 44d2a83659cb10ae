// Parameter setup against a recording host: every declared definition, byte for byte, and what
// happens when the host refuses one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "AE_EffectCB.h"
#include "effect/handlers.h"
#include "params/param_table.h"

namespace {

// --- The recording host.

struct Declared {
    PF_ParamDef def;
    std::string text;  // what the definition's text pointer showed when it was added
    PF_ProgPtr effect_ref;
};

std::vector<Declared> g_declared;
std::vector<std::string> g_copied_names;  // every name the effect copied, in order
std::vector<int> g_copies_before;         // name copies made before each add_param call
int g_add_calls = 0;
int g_fail_at = 0;  // 1-based call that fails; 0 never
PF_Err g_fail_with = PF_Err_NONE;

const char* TextOf(const PF_ParamDef& def) {
    switch (def.param_type) {
        case PF_Param_POPUP:
            return def.u.pd.u.namesptr;
        case PF_Param_CHECKBOX:
            return def.u.bd.u.nameptr;
        case PF_Param_BUTTON:
            return def.u.button_d.u.namesptr;
        default:
            return nullptr;
    }
}

// Text pointers differ between builds; their texts are compared on their own.
void ClearTextPointer(PF_ParamDef* def) {
    switch (def->param_type) {
        case PF_Param_POPUP:
            def->u.pd.u.namesptr = nullptr;
            break;
        case PF_Param_CHECKBOX:
            def->u.bd.u.nameptr = nullptr;
            break;
        case PF_Param_BUTTON:
            def->u.button_d.u.namesptr = nullptr;
            break;
        default:
            break;
    }
}

PF_Err RecordAddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    ++g_add_calls;
    g_copies_before.push_back(int(g_copied_names.size()));
    EXPECT_EQ(index, -1) << "every row appends";
    if (g_add_calls == g_fail_at) return g_fail_with;
    Declared d;
    std::memcpy(&d.def, def, sizeof d.def);  // padding included: it must be zero too
    const char* text = TextOf(*def);
    d.text = text ? text : "<null>";
    d.effect_ref = effect_ref;
    g_declared.push_back(d);
    return PF_Err_NONE;
}

A_char* RecordStrcpy(A_char* dst, const A_char* src) {
    g_copied_names.push_back(src);
    return std::strcpy(dst, src);
}

struct RecordingHost {
    PF_UtilCallbacks utils{};
    PF_InData in{};
    PF_OutData out{};
    int marker = 0;

    RecordingHost() {
        g_declared.clear();
        g_copied_names.clear();
        g_copies_before.clear();
        g_add_calls = 0;
        g_fail_at = 0;
        utils.ansi.strcpy = RecordStrcpy;
        in.utils = &utils;
        in.inter.add_param = RecordAddParam;
        in.effect_ref = reinterpret_cast<PF_ProgPtr>(&marker);
        out.num_params = 1234;
    }
    PF_Err Run() { return ParamsSetup(&in, &out); }
};

// --- The controls as the user is promised them, written out here on their own.

PF_ParamDef Base(PF_ParamType type, A_long id, const char* name, PF_ParamFlags flags = 0) {
    PF_ParamDef d;
    std::memset(&d, 0, sizeof d);
    d.param_type = type;
    d.uu.id = id;
    std::strcpy(d.name, name);
    d.flags = flags;
    return d;
}

struct Expected {
    PF_ParamDef def;
    std::string text;
};

Expected Layer(A_long id, const char* name) {
    Expected e{Base(PF_Param_LAYER, id, name), "<null>"};
    e.def.u.ld.dephault = PF_LayerDefault_NONE;
    return e;
}

Expected Popup(A_long id, const char* name, const char* entries, A_short choices, A_short dflt) {
    Expected e{Base(PF_Param_POPUP, id, name), entries};
    e.def.u.pd.value = dflt;
    e.def.u.pd.dephault = dflt;
    e.def.u.pd.num_choices = choices;
    return e;
}

Expected Group(A_long id, const char* name, PF_ParamFlags flags) {
    return {Base(PF_Param_GROUP_START, id, name, flags), "<null>"};
}

Expected End(A_long id) { return {Base(PF_Param_GROUP_END, id, ""), "<null>"}; }

Expected Check(A_long id, const char* name, const char* box, PF_ParamFlags flags, int dflt) {
    Expected e{Base(PF_Param_CHECKBOX, id, name, flags), box};
    e.def.u.bd.value = dflt;
    e.def.u.bd.dephault = PF_Boolean(dflt);
    return e;
}

Expected Slider(A_long id, const char* name, float vmin, float vmax, float smin, float smax,
                float dflt, bool percent = false) {
    Expected e{Base(PF_Param_FLOAT_SLIDER, id, name), "<null>"};
    PF_FloatSliderDef& s = e.def.u.fs_d;
    s.value = dflt;
    s.dephault = dflt;
    s.valid_min = vmin;
    s.valid_max = vmax;
    s.slider_min = smin;
    s.slider_max = smax;
    s.precision = 2;
    s.display_flags = percent ? 1 : 0;
    s.curve_tolerance = 0.05f;
    return e;
}

Expected Angle(A_long id, const char* name) { return {Base(PF_Param_ANGLE, id, name), "<null>"}; }

Expected Button(A_long id, const char* caption) {
    return {Base(PF_Param_BUTTON, id, "", PF_ParamFlag_SUPERVISE), caption};
}

std::vector<Expected> ExpectedControls() {
    const char* channels = "Red|Green|Blue|Alpha|(-|Hue|Saturation|Luminance";
    const char* easing = "None|(-|Ease In|Ease Out|Ease In & Out";
    return {
        Layer(0, "Map Layer"),
        Popup(1, "Channel", channels, 8, 8),
        Group(2, "Map Adjustments", 0x20),
        Check(3, "Invert Map", "", 0, 0),
        Slider(4, "Map Gamma", 0, 10, 0, 2, 1),
        Slider(5, "Map Softness", 0, 100, 0, 20, 0),
        Slider(6, "Displacement Offset", -10, 10, -1, 1, 0),
        Popup(36, "Displacement Easing", easing, 5, 1),
        Button(42, "Reset Adjustments"),
        End(7),
        Group(8, "Transform", 0),
        Slider(9, "Translate X", -1000, 1000, -100, 100, 0, true),
        Slider(10, "Translate Y", -1000, 1000, -100, 100, 0, true),
        Angle(11, "Rotate"),
        Check(12, "", "Uniform Scale", 0x42, 1),
        Slider(13, "Scale X", -1000, 1000, -100, 100, 100, true),
        Slider(14, "Scale Y", -1000, 1000, -100, 100, 100, true),
        Slider(15, "Anchor X", -1000, 1000, -100, 100, 0, true),
        Slider(16, "Anchor Y", -1000, 1000, -100, 100, 0, true),
        Button(40, "Reset Transforms"),
        End(17),
        Group(19, "Chromatic Aberration", 0x20),
        Group(20, "Transform Multipliers", 0),
        End(21),
        Slider(22, "Red", -10, 10, -1.3f, 1.3f, 1),
        Slider(23, "Green", -10, 10, -1.3f, 1.3f, 1),
        Slider(24, "Blue", -10, 10, -1.3f, 1.3f, 1),
        Button(41, "Reset Multipliers"),
        End(25),
        Popup(18, "Edge Behavior", "None|(-|Repeat|Mirror Repeat|Edge Repeat", 5, 1),
        Popup(37, "Anti-Aliasing", "None|(-|2x|4x", 4, 1),
        Popup(31, "View", "Map|Result", 2, 2),
        Group(38, "Debug", 0),
        Popup(26, "Caching Behavior", "Video|Still", 2, 1),
        Slider(27, "Left", -1000, 1000, 0, 5, 0),
        Slider(28, "Top", -1000, 1000, 0, 5, 0),
        Slider(29, "Right", -1000, 1000, 0, 5, 0),
        Slider(30, "Bottom", -1000, 1000, 0, 5, 0),
        End(39),
    };
}

TEST(ParamsSetup, DeclaresEveryControlExactlyAsPromised) {
    RecordingHost s;
    ASSERT_EQ(s.Run(), PF_Err_NONE);
    EXPECT_EQ(s.out.num_params, 40);
    const std::vector<Expected> want = ExpectedControls();
    ASSERT_EQ(g_declared.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE("position " + std::to_string(i + 1) + " '" + want[i].def.name + "'");
        PF_ParamDef got = g_declared[i].def;
        const PF_ParamDef& w = want[i].def;
        EXPECT_EQ(g_declared[i].effect_ref, s.in.effect_ref);
        EXPECT_EQ(got.param_type, w.param_type);
        EXPECT_EQ(got.uu.id, w.uu.id);
        EXPECT_STREQ(got.name, w.name);
        EXPECT_EQ(got.flags, w.flags);
        EXPECT_EQ(got.ui_flags, 0);
        EXPECT_EQ(g_declared[i].text, want[i].text);
        ClearTextPointer(&got);
        // Everything else, union and unused fields included, as written above (zero elsewhere).
        EXPECT_EQ(std::memcmp(&got, &w, sizeof got), 0);
        if (got.param_type == PF_Param_FLOAT_SLIDER) {
            EXPECT_EQ(got.u.fs_d.valid_min, w.u.fs_d.valid_min);
            EXPECT_EQ(got.u.fs_d.slider_min, w.u.fs_d.slider_min);
            EXPECT_EQ(got.u.fs_d.slider_max, w.u.fs_d.slider_max);
            EXPECT_EQ(got.u.fs_d.dephault, w.u.fs_d.dephault);
            EXPECT_EQ(got.u.fs_d.value, w.u.fs_d.value);
            EXPECT_EQ(got.u.fs_d.curve_tolerance, 0.05f);
        }
    }
}

TEST(ParamsSetup, CopiesNamesWithTheHostsCopyExceptForGroupEnds) {
    RecordingHost s;
    ASSERT_EQ(s.Run(), PF_Err_NONE);
    const std::vector<Expected> want = ExpectedControls();
    std::vector<std::string> expected_copies;
    for (std::size_t i = 0; i < want.size(); ++i) {
        // Copies for a row happen before its add_param call.
        const int copies_for_row = g_copies_before[i] - (i ? g_copies_before[i - 1] : 0);
        const bool group_end = want[i].def.param_type == PF_Param_GROUP_END;
        EXPECT_EQ(copies_for_row, group_end ? 0 : 1) << "position " << i + 1;
        if (!group_end) expected_copies.push_back(want[i].def.name);
    }
    // The buttons and the uniform-scale checkbox copy the empty string.
    EXPECT_EQ(g_copied_names, expected_copies);
}

class ParamsSetupRefused : public ::testing::TestWithParam<int> {};

TEST_P(ParamsSetupRefused, StopsAtOnceWithTheHostsError) {
    const int failing_row = GetParam();
    RecordingHost s;
    g_fail_at = failing_row;
    g_fail_with = PF_Err_OUT_OF_MEMORY;
    EXPECT_EQ(s.Run(), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(g_add_calls, failing_row) << "no row after the refused one is offered";
    EXPECT_EQ(g_declared.size(), std::size_t(failing_row - 1));
    EXPECT_EQ(s.out.num_params, 1234) << "num_params is left alone";
    const std::vector<Expected> want = ExpectedControls();
    for (std::size_t i = 0; i < g_declared.size(); ++i) {
        EXPECT_EQ(g_declared[i].def.uu.id, want[i].def.uu.id);
    }
}

INSTANTIATE_TEST_SUITE_P(FirstTenthAndLastRow, ParamsSetupRefused, ::testing::Values(1, 10, 39));

// The render and the interaction address controls by these names; each must point at the
// control it is named after.
TEST(ParamIndex, EachNameHoldsItsControl) {
    RecordingHost s;
    ASSERT_EQ(s.Run(), PF_Err_NONE);
    auto at = [](PF_ParamIndex index) -> const PF_ParamDef& {
        return g_declared.at(std::size_t(index - 1)).def;
    };
    const std::pair<PF_ParamIndex, const char*> named[] = {
        {kParamMapLayer, "Map Layer"},
        {kParamChannel, "Channel"},
        {kParamMapAdjustmentsStart, "Map Adjustments"},
        {kParamInvertMap, "Invert Map"},
        {kParamMapGamma, "Map Gamma"},
        {kParamMapSoftness, "Map Softness"},
        {kParamDisplacementOffset, "Displacement Offset"},
        {kParamDisplacementEasing, "Displacement Easing"},
        {kParamTransformStart, "Transform"},
        {kParamTranslateX, "Translate X"},
        {kParamTranslateY, "Translate Y"},
        {kParamRotate, "Rotate"},
        {kParamScaleX, "Scale X"},
        {kParamScaleY, "Scale Y"},
        {kParamAnchorX, "Anchor X"},
        {kParamAnchorY, "Anchor Y"},
        {kParamChromaticAberrationStart, "Chromatic Aberration"},
        {kParamTransformMultipliersStart, "Transform Multipliers"},
        {kParamRedMultiplier, "Red"},
        {kParamGreenMultiplier, "Green"},
        {kParamBlueMultiplier, "Blue"},
        {kParamEdgeBehavior, "Edge Behavior"},
        {kParamAntiAliasing, "Anti-Aliasing"},
        {kParamView, "View"},
        {kParamDebugStart, "Debug"},
        {kParamCachingBehavior, "Caching Behavior"},
        {kParamDebugLeft, "Left"},
        {kParamDebugTop, "Top"},
        {kParamDebugRight, "Right"},
        {kParamDebugBottom, "Bottom"},
    };
    for (const auto& [index, name] : named) EXPECT_STREQ(at(index).name, name) << index;

    EXPECT_STREQ(at(kParamUniformScale).u.bd.u.nameptr, "Uniform Scale");
    EXPECT_STREQ(at(kParamResetAdjustments).u.button_d.u.namesptr, "Reset Adjustments");
    EXPECT_STREQ(at(kParamResetTransforms).u.button_d.u.namesptr, "Reset Transforms");
    EXPECT_STREQ(at(kParamResetMultipliers).u.button_d.u.namesptr, "Reset Multipliers");
    for (PF_ParamIndex end :
         {kParamMapAdjustmentsEnd, kParamTransformEnd, kParamTransformMultipliersEnd,
          kParamChromaticAberrationEnd, kParamDebugEnd}) {
        EXPECT_EQ(at(end).param_type, PF_Param_GROUP_END) << end;
    }
    EXPECT_EQ(kParamCount, 40);

    // Popup values the render tells apart name the entries they sit at.
    auto entry = [](const char* list, int value) {
        std::string s = list;
        for (int i = 1; i < value; ++i) s = s.substr(s.find('|') + 1);
        return s.substr(0, s.find('|'));
    };
    EXPECT_EQ(entry(kChannelEntries, kChannelHue), "Hue");
    EXPECT_EQ(entry(kChannelEntries, kChannelLuminance), "Luminance");
    EXPECT_EQ(entry(kEasingEntries, kEasingInOut), "Ease In & Out");
    EXPECT_EQ(entry(kEdgeBehaviorEntries, kEdgeMirrorRepeat), "Mirror Repeat");
    EXPECT_EQ(entry(kEdgeBehaviorEntries, kEdgeEdgeRepeat), "Edge Repeat");
    EXPECT_EQ(entry(kAntiAliasingEntries, kAntiAliasing4x), "4x");
    EXPECT_EQ(entry(kViewEntries, kViewMap), "Map");
}

}  // namespace
