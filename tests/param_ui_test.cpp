// The reset buttons and the interface updates, driven as the user drives them through the
// standalone host.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "AE_EffectSuites.h"
#include "standalone/aegp_suites.h"
#include "standalone/undo.h"
#include "tests/support/host_test_support.h"

using namespace vexo_host;

namespace {

// Values the user might leave on every control that holds one, none of them a default.
const std::map<PF_ParamIndex, double> kEdited = {
    {kParamChannel, 3},
    {kParamInvertMap, 1},
    {kParamMapGamma, 2.5},
    {kParamMapSoftness, 7},
    {kParamDisplacementOffset, -0.4},
    {kParamDisplacementEasing, 5},
    {kParamTranslateX, 12},
    {kParamTranslateY, -30},
    {kParamRotate, 45},
    {kParamScaleX, 150},
    {kParamScaleY, 25},
    {kParamAnchorX, 10},
    {kParamAnchorY, -10},
    {kParamRedMultiplier, 1.2},
    {kParamGreenMultiplier, 0.5},
    {kParamBlueMultiplier, -2},
    {kParamEdgeBehavior, 4},
    {kParamAntiAliasing, 3},
    {kParamView, 1},
};

// The defaults, as the user is told them.
const std::map<PF_ParamIndex, double> kDefaults = {
    {kParamChannel, 8},
    {kParamInvertMap, 0},
    {kParamMapGamma, 1},
    {kParamMapSoftness, 0},
    {kParamDisplacementOffset, 0},
    {kParamDisplacementEasing, 1},
    {kParamTranslateX, 0},
    {kParamTranslateY, 0},
    {kParamRotate, 0},
    {kParamUniformScale, 1},
    {kParamScaleX, 100},
    {kParamScaleY, 100},
    {kParamAnchorX, 0},
    {kParamAnchorY, 0},
    {kParamRedMultiplier, 1},
    {kParamGreenMultiplier, 1},
    {kParamBlueMultiplier, 1},
    {kParamEdgeBehavior, 1},
    {kParamAntiAliasing, 1},
    {kParamView, 2},
};

struct ResetCase {
    PF_ParamIndex button;
    const char* undo_name;
    std::vector<PF_ParamIndex> restores;
};

class ResetButton : public ParamHostTest, public ::testing::WithParamInterface<ResetCase> {
  protected:
    // Every control edited, with uniform scale off so that "Scale Y" is reachable.
    void EditEverything() {
        ASSERT_EQ(UserSetValue(instance_.get(), kParamUniformScale, 0), PF_Err_NONE);
        for (const auto& [index, value] : kEdited) {
            ASSERT_EQ(UserSetValue(instance_.get(), index, value), PF_Err_NONE) << index;
        }
    }
    std::map<PF_ParamIndex, double> Values() const {
        std::map<PF_ParamIndex, double> v;
        for (const auto& [index, unused] : kDefaults) v[index] = Value(index);
        return v;
    }
};

TEST_P(ResetButton, RestoresItsGroupOnlyAsOneUndoStep) {
    const ResetCase& c = GetParam();
    EditEverything();
    const std::map<PF_ParamIndex, double> edited = Values();
    const std::size_t steps_before = UndoHistory().size();

    ASSERT_EQ(UserPressButton(instance_.get(), c.button), PF_Err_NONE);

    for (const auto& [index, before] : edited) {
        const bool in_group =
            std::find(c.restores.begin(), c.restores.end(), index) != c.restores.end();
        EXPECT_EQ(Value(index), in_group ? kDefaults.at(index) : before) << "control " << index;
    }
    const std::vector<std::string> history = UndoHistory();
    ASSERT_EQ(history.size(), steps_before + 1) << "the reset is one undo step";
    EXPECT_EQ(history.back(), c.undo_name);

    ASSERT_TRUE(UndoLastStep());
    EXPECT_EQ(Values(), edited) << "one undo brings every reset control back";
}

INSTANTIATE_TEST_SUITE_P(
    AllThree, ResetButton,
    ::testing::Values(
        ResetCase{kParamResetAdjustments,
                  "Reset Adjustments Controls",
                  {kParamInvertMap, kParamMapGamma, kParamMapSoftness, kParamDisplacementOffset,
                   kParamDisplacementEasing}},
        ResetCase{kParamResetTransforms,
                  "Reset Transform Controls",
                  {kParamTranslateX, kParamTranslateY, kParamRotate, kParamUniformScale,
                   kParamScaleX, kParamScaleY, kParamAnchorX, kParamAnchorY}},
        ResetCase{kParamResetMultipliers,
                  "Reset Chromatic Aberration Controls",
                  {kParamRedMultiplier, kParamGreenMultiplier, kParamBlueMultiplier}}));

TEST_F(ParamHostTest, ResetTransformsTurnsUniformScaleBackOnAndTheInterfaceFollows) {
    ASSERT_EQ(UserSetValue(instance_.get(), kParamUniformScale, 0), PF_Err_NONE);
    ASSERT_TRUE(Shown(kParamScaleY));
    ASSERT_EQ(UserPressButton(instance_.get(), kParamResetTransforms), PF_Err_NONE);
    EXPECT_EQ(Value(kParamUniformScale), 1);
    EXPECT_FALSE(Shown(kParamScaleY));
    EXPECT_EQ(ShownName(kParamScaleX), "Scale");

    // Undo brings the checkbox back off, and the interface with it.
    ASSERT_TRUE(UndoLastStep());
    EXPECT_EQ(Value(kParamUniformScale), 0);
    EXPECT_TRUE(Shown(kParamScaleY));
    EXPECT_EQ(ShownName(kParamScaleX), "Scale X");
}

TEST_F(ParamHostTest, TheUniformScaleCheckboxChangesNoStreamItself) {
    const std::vector<ParamStream> before = instance_->params;
    ASSERT_EQ(SendUserChangedParam(instance_.get(), kParamUniformScale), PF_Err_NONE);
    EXPECT_TRUE(UndoHistory().empty());
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(instance_->params[i].value, before[i].value) << i;
    }
    // Nor does any other control that is not a reset button.
    ASSERT_EQ(SendUserChangedParam(instance_.get(), kParamChannel), PF_Err_NONE);
    EXPECT_TRUE(UndoHistory().empty());
}

TEST_F(ParamHostTest, UniformScaleShowsOneSliderOrTwo) {
    // A new instance has uniform scale on.
    EXPECT_TRUE(Shown(kParamScaleX));
    EXPECT_EQ(ShownName(kParamScaleX), "Scale");
    EXPECT_FALSE(Shown(kParamScaleY));
    EXPECT_FALSE(IsEnabled(*instance_, kParamScaleY));
    EXPECT_EQ(ShownName(kParamScaleY), "Scale Y");

    ASSERT_EQ(UserSetValue(instance_.get(), kParamUniformScale, 0), PF_Err_NONE);
    EXPECT_EQ(ShownName(kParamScaleX), "Scale X");
    EXPECT_EQ(ShownName(kParamScaleY), "Scale Y");
    EXPECT_TRUE(Shown(kParamScaleX));
    EXPECT_TRUE(Shown(kParamScaleY));
    EXPECT_TRUE(IsEnabled(*instance_, kParamScaleY));

    ASSERT_EQ(UserSetValue(instance_.get(), kParamUniformScale, 1), PF_Err_NONE);
    EXPECT_EQ(ShownName(kParamScaleX), "Scale");
    EXPECT_FALSE(Shown(kParamScaleY));
    EXPECT_FALSE(IsEnabled(*instance_, kParamScaleY));
    // The slider types are kept.
    EXPECT_EQ(CurrentDef(*instance_, kParamScaleX).param_type, PF_Param_FLOAT_SLIDER);
    EXPECT_EQ(CurrentDef(*instance_, kParamScaleY).param_type, PF_Param_FLOAT_SLIDER);
}

// What the effect hands PF_UpdateParamUI, in order, before the host's own entry takes it.
struct ShownUpdate {
    PF_ParamIndex index;
    std::string name;
    bool disabled;
    bool operator==(const ShownUpdate& o) const {
        return index == o.index && name == o.name && disabled == o.disabled;
    }
};
void PrintTo(const ShownUpdate& u, std::ostream* os) {
    *os << u.index << " '" << u.name << "'" << (u.disabled ? " disabled" : "");
}
std::vector<ShownUpdate> g_updates;
const PF_ParamUtilsSuite3* g_host_param_utils = nullptr;

PF_Err RecordUpdateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex index, const PF_ParamDef* def) {
    g_updates.push_back({index, def->name, (def->ui_flags & PF_PUI_DISABLED) != 0});
    return g_host_param_utils->PF_UpdateParamUI(effect_ref, index, def);
}

TEST_F(ParamHostTest, ScaleYIsUpdatedBeforeTheSliderBesideIt) {
    const void* table = nullptr;
    ASSERT_EQ(BasicSuite()->AcquireSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3, &table),
              0);
    ASSERT_EQ(BasicSuite()->ReleaseSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3), 0);
    g_host_param_utils = static_cast<const PF_ParamUtilsSuite3*>(table);
    PF_ParamUtilsSuite3 recording = *g_host_param_utils;
    recording.PF_UpdateParamUI = RecordUpdateParamUI;
    RegisterSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3, &recording);
    g_updates.clear();

    const PF_Err on = SendUpdateParamsUI(instance_.get());
    const PF_Err off = UserSetValue(instance_.get(), kParamUniformScale, 0);
    RegisterAegpSuites();
    EXPECT_EQ(on, PF_Err_NONE);
    EXPECT_EQ(off, PF_Err_NONE);
    const std::vector<ShownUpdate> expected = {{kParamScaleY, "Scale Y", true},
                                               {kParamScaleX, "Scale", false},
                                               {kParamScaleY, "Scale Y", false},
                                               {kParamScaleX, "Scale X", false}};
    EXPECT_EQ(g_updates, expected);
}

TEST_F(ParamHostTest, TheDebugGroupNeverShows) {
    auto expect_debug_hidden = [&](const char* after) {
        for (PF_ParamIndex i = kParamDebugStart; i <= kParamDebugEnd; ++i) {
            EXPECT_FALSE(Shown(i)) << "control " << i << " after " << after;
            EXPECT_TRUE(instance_->params[std::size_t(i)].dyn_flags & AEGP_DynStreamFlag_HIDDEN)
                << "control " << i << " after " << after;
        }
    };
    expect_debug_hidden("setup");
    ASSERT_EQ(UserSetValue(instance_.get(), kParamUniformScale, 0), PF_Err_NONE);
    expect_debug_hidden("uniform scale off");
    ASSERT_EQ(UserPressButton(instance_.get(), kParamResetTransforms), PF_Err_NONE);
    expect_debug_hidden("a reset");
    ASSERT_TRUE(UndoLastStep());
    expect_debug_hidden("an undo");

    // Shown by someone else in between, they are hidden again by the next update.
    for (PF_ParamIndex i = kParamDebugStart; i <= kParamDebugEnd; ++i) {
        ASSERT_EQ(SetDynamicFlag(instance_.get(), i, AEGP_DynStreamFlag_HIDDEN, false, false),
                  PF_Err_NONE);
    }
    ASSERT_TRUE(Shown(kParamDebugLeft));
    ASSERT_EQ(SendUpdateParamsUI(instance_.get()), PF_Err_NONE);
    expect_debug_hidden("an update");
}

TEST_F(ParamHostTest, AnInterfaceUpdateLeavesTheHostsDefinitionsAlone) {
    std::vector<PF_ParamDef> defs, before;
    for (PF_ParamIndex i = 0; i < kParamCount; ++i) defs.push_back(CurrentDef(*instance_, i));
    std::vector<PF_ParamDef*> pointers;
    for (PF_ParamDef& d : defs) pointers.push_back(&d);
    before = defs;

    PF_InData in = MakeInstanceInData(instance_.get());
    PF_OutData out{};
    PF_Err err;
    {
        CommandScope command(instance_.get(), PF_Cmd_UPDATE_PARAMS_UI);
        err = EffectMain(PF_Cmd_UPDATE_PARAMS_UI, &in, &out, pointers.data(), nullptr, nullptr);
    }
    ASSERT_EQ(err, PF_Err_NONE);
    EXPECT_EQ(std::memcmp(defs.data(), before.data(), defs.size() * sizeof(PF_ParamDef)), 0);
}

// --- Suites the host does not provide.

struct MissingSuite {
    const char* name;
    int version;
};

TEST_F(ParamHostTest, AWithheldSuiteEndsTheUpdateWith516AndEverythingIsGivenBack) {
    const MissingSuite used_by_update[] = {{"AEGP PF Interface Suite", 1},
                                           {"AEGP Effect Suite", 2},
                                           {"AEGP Stream Suite", 7},
                                           {"AEGP Dynamic Stream Suite", 2},
                                           {"PF Param Utils Suite", 3}};
    for (const MissingSuite& missing : used_by_update) {
        SCOPED_TRACE(missing.name + (" v" + std::to_string(missing.version)));
        WithholdSuite(missing.name, missing.version);
        EXPECT_EQ(SendUpdateParamsUI(instance_.get()), PF_Err_BAD_CALLBACK_PARAM);
        ClearFailures();
        EXPECT_TRUE(OutstandingSuites().empty());
        EXPECT_EQ(LiveEffectRefs(instance_.get()), 0);
        EXPECT_EQ(LiveStreamRefs(instance_.get()), 0);
    }
}

TEST_F(ParamHostTest, AWithheldSuiteEndsTheResetWith516ChangingNothing) {
    ASSERT_EQ(UserSetValue(instance_.get(), kParamTranslateX, 40), PF_Err_NONE);
    const MissingSuite used_by_reset[] = {{"AEGP PF Interface Suite", 1},
                                          {"AEGP Effect Suite", 3},
                                          {"AEGP Utility Suite", 7},
                                          {"AEGP Stream Suite", 9}};
    for (const MissingSuite& missing : used_by_reset) {
        SCOPED_TRACE(missing.name + (" v" + std::to_string(missing.version)));
        WithholdSuite(missing.name, missing.version);
        EXPECT_EQ(SendUserChangedParam(instance_.get(), kParamResetTransforms),
                  PF_Err_BAD_CALLBACK_PARAM);
        ClearFailures();
        EXPECT_EQ(Value(kParamTranslateX), 40);
        EXPECT_TRUE(OutstandingSuites().empty());
        EXPECT_FALSE(UndoGroupOpen());
        EXPECT_EQ(LiveEffectRefs(instance_.get()), 0);
        EXPECT_EQ(LiveStreamRefs(instance_.get()), 0);
    }
}

TEST_F(ParamHostTest, ASuiteReportingSuccessWithoutATableCountsAsMissing) {
    NullSuite("AEGP Stream Suite", 9);
    EXPECT_EQ(SendUserChangedParam(instance_.get(), kParamResetMultipliers),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_FALSE(UndoGroupOpen());
    EXPECT_EQ(LiveEffectRefs(instance_.get()), 0);
    // The host counted the acquire that handed back no table; the handler owes no release for
    // it, so balance the host's books here.
    BasicSuite()->ReleaseSuite("AEGP Stream Suite", 9);
}

// --- Host calls that fail part way.

TEST_F(ParamHostTest, AFailedWriteStillClosesTheUndoGroupAndGivesBackItsReferences) {
    FailCall("AEGP_SetStreamValue", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SendUserChangedParam(instance_.get(), kParamResetTransforms), PF_Err_OUT_OF_MEMORY);
    EXPECT_FALSE(UndoGroupOpen());
    EXPECT_EQ(LiveStreamRefs(instance_.get()), 0);
    EXPECT_EQ(LiveEffectRefs(instance_.get()), 0);
    EXPECT_TRUE(UndoHistory().empty()) << "nothing was written, so there is nothing to undo";
}

TEST_F(ParamHostTest, TheFirstErrorWinsOverAFailedDisposal) {
    FailCall("AEGP_SetStreamValue", PF_Err_OUT_OF_MEMORY);
    FailCall("AEGP_DisposeEffect", PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(SendUserChangedParam(instance_.get(), kParamResetAdjustments), PF_Err_OUT_OF_MEMORY);
    // The disposal that failed left the handle with the host; give it back for the teardown.
    ClearFailures();
    ForgetInstanceRefs(instance_.get());
}

TEST_F(ParamHostTest, AFailedDisposalIsTheResultOfAnOtherwiseGoodCommand) {
    FailCall("AEGP_DisposeEffect", PF_Err_INTERNAL_STRUCT_DAMAGED);
    EXPECT_EQ(SendUserChangedParam(instance_.get(), kParamResetMultipliers),
              PF_Err_INTERNAL_STRUCT_DAMAGED);
    ForgetInstanceRefs(instance_.get());
}

TEST_F(ParamHostTest, AFailedUndoGroupStartWritesNothing) {
    ASSERT_EQ(UserSetValue(instance_.get(), kParamRedMultiplier, 3), PF_Err_NONE);
    FailCall("AEGP_StartUndoGroup", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SendUserChangedParam(instance_.get(), kParamResetMultipliers), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(Value(kParamRedMultiplier), 3);
    EXPECT_FALSE(UndoGroupOpen());
}

TEST_F(ParamHostTest, AFailedHideStillGivesBackTheStream) {
    FailCall("AEGP_SetDynamicStreamFlag", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SendUpdateParamsUI(instance_.get()), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(LiveStreamRefs(instance_.get()), 0);
    EXPECT_EQ(LiveEffectRefs(instance_.get()), 0);
}

TEST_F(ParamHostTest, WithoutAnEffectHandleTheUpdateHandsNothingToTheHost) {
    ASSERT_EQ(UserSetValue(instance_.get(), kParamUniformScale, 0), PF_Err_NONE);
    ASSERT_EQ(ShownName(kParamScaleX), "Scale X");
    // Turned on behind the interface's back, then an update that cannot reach the streams.
    instance_->params[kParamUniformScale].value = 1;
    FailCall("AEGP_GetNewEffectForEffect", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SendUpdateParamsUI(instance_.get()), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(ShownName(kParamScaleX), "Scale X");
    EXPECT_TRUE(Shown(kParamScaleY));
}

TEST_F(ParamHostTest, AFailedInterfaceUpdateStopsTheRest) {
    ASSERT_EQ(UserSetValue(instance_.get(), kParamUniformScale, 0), PF_Err_NONE);
    instance_->params[kParamUniformScale].value = 1;
    FailCall("PF_UpdateParamUI", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SendUpdateParamsUI(instance_.get()), PF_Err_OUT_OF_MEMORY);
    EXPECT_TRUE(Shown(kParamScaleY)) << "no hide after the failed update";
    EXPECT_EQ(LiveEffectRefs(instance_.get()), 0);
}

}  // namespace
