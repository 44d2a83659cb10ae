// The standalone host's side of parameters: what add_param accepts, streams and their undo,
// checkouts, the suites, `--set` and what `vexorant info` shows.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "host/AEGP_SuiteHandler.h"
#include "standalone/aegp_suites.h"
#include "standalone/settings.h"
#include "standalone/undo.h"
#include "tests/support/host_test_support.h"

using namespace vexo_host;

namespace {

// --- An effect whose parameter setup offers whatever the test puts here.

std::vector<PF_ParamDef> g_offer;
bool g_offer_null = false;
PF_ParamIndex g_offer_at = -1;
A_long g_num_params = -1;  // -1: the count offered, plus the input layer
PF_ProgPtr g_seen_ref = nullptr;

PF_Err OfferingEffect(PF_Cmd cmd, PF_InData* in, PF_OutData* out, PF_ParamDef*[], PF_LayerDef*,
                      void*) {
    if (cmd != PF_Cmd_PARAMS_SETUP) return PF_Err_NONE;
    g_seen_ref = in->effect_ref;
    for (PF_ParamDef& def : g_offer) {
        if (const PF_Err err = in->inter.add_param(in->effect_ref, g_offer_at, &def)) return err;
    }
    if (g_offer_null) return in->inter.add_param(in->effect_ref, -1, nullptr);
    out->num_params = g_num_params >= 0 ? g_num_params : A_long(g_offer.size() + 1);
    return PF_Err_NONE;
}

PF_ParamDef Def(PF_ParamType type, A_long id, const char* name) {
    PF_ParamDef d;
    std::memset(&d, 0, sizeof d);
    d.param_type = type;
    d.uu.id = id;
    std::strcpy(d.name, name);
    return d;
}

PF_ParamDef GoodSlider(A_long id) {
    PF_ParamDef d = Def(PF_Param_FLOAT_SLIDER, id, "Amount");
    d.u.fs_d.valid_min = -10;
    d.u.fs_d.valid_max = 10;
    d.u.fs_d.slider_min = 0;
    d.u.fs_d.slider_max = 5;
    d.u.fs_d.value = 1;
    d.u.fs_d.dephault = 1;
    d.u.fs_d.precision = 1;
    return d;
}

PF_ParamDef GoodPopup(A_long id, const char* entries, A_short choices, A_short dflt) {
    PF_ParamDef d = Def(PF_Param_POPUP, id, "Mode");
    d.u.pd.u.namesptr = entries;
    d.u.pd.num_choices = choices;
    d.u.pd.value = dflt;
    d.u.pd.dephault = dflt;
    return d;
}

class OfferedParams : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        effect_.entry = OfferingEffect;
        g_offer.clear();
        g_offer_null = false;
        g_offer_at = -1;
        g_num_params = -1;
        g_seen_ref = nullptr;
        instance_ = std::make_unique<Instance>(&effect_);
    }
    void TearDown() override {
        instance_.reset();
        HostTest::TearDown();
    }
    std::unique_ptr<Instance> instance_;
};

TEST_F(OfferedParams, WellFormedDefinitionsAreKeptForTheInstanceTheEffectWasHanded) {
    g_offer = {GoodSlider(3), GoodPopup(4, "A|(-|B", 3, 3)};
    ASSERT_EQ(SetupInstance(instance_.get()), PF_Err_NONE) << instance_->refusal;
    EXPECT_EQ(g_seen_ref, RefOf(instance_.get()));
    ASSERT_EQ(instance_->params.size(), 3u);
    EXPECT_EQ(instance_->params[0].def.param_type, PF_Param_LAYER);
    EXPECT_EQ(instance_->params[1].value, 1);
    EXPECT_EQ(instance_->params[2].value, 3);
    EXPECT_EQ(instance_->params[2].entries, "A|(-|B");
    EXPECT_TRUE(instance_->set_up);

    // add_param belongs to parameter setup only.
    PF_InData in = MakeInstanceInData(instance_.get());
    PF_ParamDef late = GoodSlider(9);
    EXPECT_NE(in.inter.add_param(in.effect_ref, -1, &late), PF_Err_NONE);
    EXPECT_EQ(instance_->params.size(), 3u);
    // Nor does a reference to no instance reach one.
    int not_an_instance = 0;
    EXPECT_EQ(in.inter.add_param(reinterpret_cast<PF_ProgPtr>(&not_an_instance), -1, &late),
              PF_Err_BAD_CALLBACK_PARAM);
}

struct Malformed {
    const char* what;
    std::function<void()> offer;
    PF_Err code;
};

TEST_F(OfferedParams, MalformedDefinitionsAreRefusedWithACode) {
    const Malformed cases[] = {
        Malformed{"an unknown type", [] { g_offer = {Def(99, 1, "Odd")}; },
                  PF_Err_UNRECOGNIZED_PARAM_TYPE},
        Malformed{"a popup with more choices than entries",
                  [] { g_offer = {GoodPopup(1, "A|B", 3, 1)}; }, PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a popup with fewer choices than entries",
                  [] { g_offer = {GoodPopup(1, "A|B|C", 2, 1)}; }, PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a popup without entries", [] { g_offer = {GoodPopup(1, nullptr, 2, 1)}; },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a popup starting on its separator",
                  [] { g_offer = {GoodPopup(1, "A|(-|B", 3, 2)}; }, PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a slider whose minimum exceeds its maximum",
                  [] {
                      PF_ParamDef d = GoodSlider(1);
                      d.u.fs_d.valid_min = 20;
                      g_offer = {d};
                  },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a slider reaching outside its valid range",
                  [] {
                      PF_ParamDef d = GoodSlider(1);
                      d.u.fs_d.slider_max = 50;
                      g_offer = {d};
                  },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a slider with a value that is not a number",
                  [] {
                      PF_ParamDef d = GoodSlider(1);
                      d.u.fs_d.value = std::nan("");
                      g_offer = {d};
                  },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a name without its terminator",
                  [] {
                      PF_ParamDef d = GoodSlider(1);
                      std::memset(d.name, 'x', sizeof d.name);
                      g_offer = {d};
                  },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a checkbox without box text",
                  [] { g_offer = {Def(PF_Param_CHECKBOX, 1, "Box")}; }, PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a button without a caption", [] { g_offer = {Def(PF_Param_BUTTON, 1, "")}; },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a group end closing nothing", [] { g_offer = {Def(PF_Param_GROUP_END, 1, "")}; },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a group left open",
                  [] {
                      g_offer = {Def(PF_Param_GROUP_START, 1, "Group"), GoodSlider(2)};
                  },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"two controls with one id",
                  [] {
                      g_offer = {GoodSlider(5), GoodPopup(5, "A|B", 2, 1)};
                  },
                  PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"an insertion instead of an append",
                  [] {
                      g_offer = {GoodSlider(1)};
                      g_offer_at = 7;
                  },
                  PF_Err_INVALID_INDEX},
        Malformed{"a null definition", [] { g_offer_null = true; }, PF_Err_BAD_CALLBACK_PARAM},
        Malformed{"a num_params that disagrees",
                  [] {
                      g_offer = {GoodSlider(1)};
                      g_num_params = 40;
                  },
                  PF_Err_BAD_CALLBACK_PARAM}};
    for (const Malformed& c : cases) {
        SCOPED_TRACE(c.what);
        g_offer.clear();
        g_offer_null = false;
        g_offer_at = -1;
        g_num_params = -1;
        instance_ = std::make_unique<Instance>(&effect_);
        c.offer();
        EXPECT_EQ(SetupInstance(instance_.get()), c.code);
        EXPECT_FALSE(instance_->set_up);
        EXPECT_FALSE(instance_->refusal.empty()) << "the host says why";
    }
}

TEST_F(OfferedParams, AFailureInjectedIntoAddParamIsReturned) {
    g_offer = {GoodSlider(1), GoodSlider(2)};
    FailCall("add_param", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SetupInstance(instance_.get()), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(instance_->params.size(), 1u);
}

// --- Checkouts of the effect's own controls.

TEST_F(ParamHostTest, ACheckoutCarriesTheCurrentValueAndIsCountedUntilCheckedIn) {
    ASSERT_EQ(UserSetValue(instance_.get(), kParamTranslateX, 25), PF_Err_NONE);
    ASSERT_EQ(UserSetValue(instance_.get(), kParamRotate, -90.5), PF_Err_NONE);
    ASSERT_EQ(UserSetValue(instance_.get(), kParamChannel, 6), PF_Err_NONE);
    ASSERT_EQ(UserSetValue(instance_.get(), kParamInvertMap, 1), PF_Err_NONE);

    PF_InData in = MakeInstanceInData(instance_.get());
    PF_ParamDef defs[kParamCount];
    for (PF_ParamIndex i = 0; i < kParamCount; ++i) {
        ASSERT_EQ(in.inter.checkout_param(in.effect_ref, i, 0, 1, 24, &defs[i]), PF_Err_NONE);
    }
    EXPECT_EQ(OutstandingCheckouts(*instance_), std::size_t(kParamCount));
    EXPECT_EQ(defs[kParamTranslateX].u.fs_d.value, 25);
    EXPECT_EQ(defs[kParamRotate].u.ad.value, -90.5 * 65536);
    EXPECT_EQ(defs[kParamChannel].u.pd.value, 6);
    EXPECT_STREQ(defs[kParamChannel].u.pd.u.namesptr, kChannelEntries);
    EXPECT_EQ(defs[kParamInvertMap].u.bd.value, 1);
    EXPECT_EQ(defs[kParamScaleX].u.fs_d.value, 100);
    EXPECT_EQ(defs[kParamMapGamma].u.fs_d.valid_max, 10);

    PF_ParamDef stranger = defs[kParamView];
    EXPECT_EQ(in.inter.checkin_param(in.effect_ref, &stranger), PF_Err_BAD_CALLBACK_PARAM)
        << "only what was checked out can be checked in";
    for (PF_ParamDef& def : defs) ASSERT_EQ(in.inter.checkin_param(in.effect_ref, &def), 0);
    EXPECT_EQ(OutstandingCheckouts(*instance_), 0u);

    PF_ParamDef beyond;
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, kParamCount, 0, 1, 24, &beyond),
              PF_Err_INVALID_INDEX);
    FailCall("checkout_param", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, kParamView, 0, 1, 24, &beyond),
              PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(OutstandingCheckouts(*instance_), 0u);
}

TEST_F(ParamHostTest, AKeyframedCheckoutAnswersTheTimeAskedAtAnyScale) {
    ASSERT_EQ(UserSetKeys(instance_.get(), kParamTranslateX, {{0, 0}, {3, 30}}), PF_Err_NONE);
    ASSERT_EQ(UserSetKeys(instance_.get(), kParamChannel, {{0, 1}, {2, 3}}), PF_Err_NONE);
    instance_->time_scale = 30000, instance_->time_step = 1001;
    PF_InData in = MakeInstanceInData(instance_.get());
    EXPECT_EQ(in.time_scale, 30000u);
    EXPECT_EQ(in.time_step, 1001);
    struct At {
        A_long time;
        A_u_long scale;
        double translate;
        A_long channel;
    } const times[] = {
        {2 * 1001, 30000, 20, 3},  // frame 2
        {3003, 60000, 15, 1},      // frame 1.5: linear in time; a popup holds
        {1001, 10, 30, 3},         // long past the last keyframe, which holds
        {-5, 30000, 0, 1},         // before the first
    };
    for (const At& at : times) {
        SCOPED_TRACE(at.time);
        PF_ParamDef translate, channel;
        ASSERT_EQ(in.inter.checkout_param(in.effect_ref, kParamTranslateX, at.time, 1, at.scale,
                                          &translate),
                  PF_Err_NONE);
        ASSERT_EQ(
            in.inter.checkout_param(in.effect_ref, kParamChannel, at.time, 1, at.scale, &channel),
            PF_Err_NONE);
        EXPECT_EQ(translate.u.fs_d.value, at.translate);
        EXPECT_EQ(channel.u.pd.value, at.channel);
        ASSERT_EQ(in.inter.checkin_param(in.effect_ref, &translate), PF_Err_NONE);
        ASSERT_EQ(in.inter.checkin_param(in.effect_ref, &channel), PF_Err_NONE);
    }
    PF_ParamDef def;
    EXPECT_EQ(in.inter.checkout_param(in.effect_ref, kParamTranslateX, 0, 1, 0, &def),
              PF_Err_BAD_CALLBACK_PARAM);

    // A value set replaces the animation, and undoing it brings the animation back.
    ASSERT_EQ(UserSetValue(instance_.get(), kParamTranslateX, 5), PF_Err_NONE);
    EXPECT_EQ(DefAt(*instance_, kParamTranslateX, 2, 1).u.fs_d.value, 5);
    ASSERT_TRUE(UndoLastStep());
    EXPECT_EQ(DefAt(*instance_, kParamTranslateX, 2, 1).u.fs_d.value, 20);
    EXPECT_EQ(UserSetKeys(instance_.get(), kParamUniformScale, {{0, 0}, {2, 1}}),
              PF_Err_BAD_CALLBACK_PARAM);
}

// --- Streams, through the suites the effect uses.

TEST_F(ParamHostTest, StreamsKeepTheirValuesInRangeAndRefuseWhatTheyCannotHold) {
    CommandScope command(instance_.get(), PF_Cmd_USER_CHANGED_PARAM);
    AEGP_SuiteHandler suites(BasicSuite());
    const AEGP_StreamSuite4* streams = suites.StreamSuite9();
    AEGP_EffectRefH effect = nullptr;
    ASSERT_EQ(
        suites.PFInterfaceSuite1()->AEGP_GetNewEffectForEffect(0, RefOf(instance_.get()), &effect),
        A_Err_NONE);
    auto set = [&](PF_ParamIndex index, double value) {
        AEGP_StreamRefH stream = nullptr;
        A_Err err = streams->AEGP_GetNewEffectStreamByIndex(0, effect, index, &stream);
        if (err) return err;
        AEGP_StreamValue2 v{};
        v.val.one_d = value;
        err = streams->AEGP_SetStreamValue(0, stream, &v);
        EXPECT_EQ(streams->AEGP_DisposeStream(stream), A_Err_NONE);
        return err;
    };
    EXPECT_EQ(set(kParamTranslateX, 5000), A_Err_NONE);
    EXPECT_EQ(Value(kParamTranslateX), 1000) << "clamped to the valid range";
    EXPECT_NE(set(kParamChannel, 0), A_Err_NONE);
    EXPECT_NE(set(kParamChannel, 9), A_Err_NONE);
    EXPECT_EQ(Value(kParamChannel), 8);
    EXPECT_NE(set(kParamResetTransforms, 1), A_Err_NONE) << "a button holds no value";
    EXPECT_NE(set(kParamTransformStart, 1), A_Err_NONE);
    EXPECT_NE(set(kParamMapGamma, std::nan("")), A_Err_NONE);
    EXPECT_NE(set(kParamRotate, 40000), A_Err_NONE) << "beyond what a fixed-point angle holds";
    EXPECT_EQ(Value(kParamRotate), 0);
    EXPECT_EQ(set(kParamRotate, -32768), A_Err_NONE);
    EXPECT_EQ(CurrentDef(*instance_, kParamRotate).u.ad.value, PF_Fixed(-32768 * 65536));
    EXPECT_EQ(set(kParamCount, 1), A_Err(PF_Err_INVALID_INDEX));
    {
        // Version 7 takes the older value record.
        AEGP_StreamRefH stream = nullptr;
        ASSERT_EQ(streams->AEGP_GetNewEffectStreamByIndex(0, effect, kParamTranslateY, &stream), 0);
        AEGP_StreamValue older{};
        older.val.one_d = 12;
        EXPECT_EQ(suites.StreamSuite7()->AEGP_SetStreamValue(0, stream, &older), A_Err_NONE);
        EXPECT_EQ(Value(kParamTranslateY), 12);
        EXPECT_EQ(streams->AEGP_DisposeStream(stream), A_Err_NONE);
    }

    AEGP_StreamRefH stream = nullptr;
    ASSERT_EQ(streams->AEGP_GetNewEffectStreamByIndex(0, effect, kParamUniformScale, &stream), 0);
    A_Boolean varies = true;
    EXPECT_EQ(streams->AEGP_CanVaryOverTime(stream, &varies), A_Err_NONE);
    EXPECT_FALSE(varies) << "the uniform-scale checkbox cannot be keyframed";
    EXPECT_EQ(streams->AEGP_DisposeStream(stream), A_Err_NONE);
    EXPECT_NE(streams->AEGP_DisposeStream(stream), A_Err_NONE) << "a stale reference is refused";

    for (PF_ParamIndex i = 1; i < kParamCount; ++i) {
        if (instance_->params[std::size_t(i)].def.param_type == PF_Param_FLOAT_SLIDER) {
            EXPECT_TRUE(instance_->params[std::size_t(i)].time_varying) << i;
        }
    }
    EXPECT_EQ(suites.EffectSuite3()->AEGP_DisposeEffect(effect), A_Err_NONE);
    EXPECT_NE(suites.EffectSuite2()->AEGP_DisposeEffect(effect), A_Err_NONE);
}

TEST_F(ParamHostTest, InterfaceChangesAreRefusedOutsideTheirCommandsOrWithAnotherType) {
    AEGP_SuiteHandler suites(BasicSuite());
    const PF_ParamUtilsSuite3* utils = suites.ParamUtilsSuite3();
    PF_ParamDef def = CurrentDef(*instance_, kParamScaleX);
    std::strcpy(def.name, "Renamed");
    EXPECT_NE(utils->PF_UpdateParamUI(RefOf(instance_.get()), kParamScaleX, &def), PF_Err_NONE);

    {
        CommandScope command(instance_.get(), PF_Cmd_UPDATE_PARAMS_UI);
        def.param_type = PF_Param_POPUP;
        EXPECT_NE(utils->PF_UpdateParamUI(RefOf(instance_.get()), kParamScaleX, &def), PF_Err_NONE);
        def.param_type = PF_Param_FLOAT_SLIDER;
        EXPECT_EQ(utils->PF_UpdateParamUI(RefOf(instance_.get()), kParamCount, &def),
                  PF_Err_INVALID_INDEX);
        EXPECT_EQ(utils->PF_UpdateParamUI(RefOf(instance_.get()), kParamScaleX, &def), PF_Err_NONE);
    }
    EXPECT_EQ(ShownName(kParamScaleX), "Renamed");
}

TEST_F(ParamHostTest, AnUndoGroupIsOneStepHoweverDeeplyNested) {
    BeginUndoGroup("Outer");
    BeginUndoGroup("Inner");
    ASSERT_EQ(WriteStream(instance_.get(), kParamMapGamma, 3, "unused"), PF_Err_NONE);
    ASSERT_EQ(WriteStream(instance_.get(), kParamMapGamma, 4, "unused"), PF_Err_NONE);
    ASSERT_TRUE(EndUndoGroup());
    ASSERT_EQ(WriteStream(instance_.get(), kParamView, 1, "unused"), PF_Err_NONE);
    EXPECT_FALSE(UndoLastStep()) << "nothing is undone while a group is open";
    ASSERT_TRUE(EndUndoGroup());
    EXPECT_FALSE(EndUndoGroup()) << "no group left to end";

    BeginUndoGroup("Nothing");
    ASSERT_TRUE(EndUndoGroup());
    ASSERT_EQ(WriteStream(instance_.get(), kParamMapSoftness, 2, "Alone"), PF_Err_NONE);
    EXPECT_EQ(UndoHistory(), (std::vector<std::string>{"Outer", "Alone"}));

    ASSERT_TRUE(UndoLastStep());
    EXPECT_EQ(Value(kParamMapSoftness), 0);
    EXPECT_EQ(Value(kParamMapGamma), 4);
    ASSERT_TRUE(UndoLastStep());
    EXPECT_EQ(Value(kParamMapGamma), 1) << "the value from before the group, not the middle one";
    EXPECT_EQ(Value(kParamView), 2);
    EXPECT_FALSE(UndoLastStep());

    AEGP_SuiteHandler suites(BasicSuite());
    EXPECT_NE(suites.UtilitySuite7()->AEGP_EndUndoGroup(), A_Err_NONE);

    // A long session keeps the newest steps only.
    for (std::size_t i = 0; i <= kUndoSteps; ++i) {
        ASSERT_EQ(WriteStream(instance_.get(), kParamMapSoftness, double(i % 7),
                              "Edit " + std::to_string(i)),
                  PF_Err_NONE);
    }
    const std::vector<std::string> history = UndoHistory();
    ASSERT_EQ(history.size(), kUndoSteps);
    EXPECT_EQ(history.front(), "Edit 1");
    EXPECT_EQ(history.back(), "Edit " + std::to_string(kUndoSteps));
}

TEST_F(ParamHostTest, UndoableVisibilityChangesAreJournalledOthersAreNot) {
    ASSERT_EQ(SetDynamicFlag(instance_.get(), kParamView, AEGP_DynStreamFlag_HIDDEN, false, true),
              PF_Err_NONE);
    EXPECT_TRUE(UndoHistory().empty());
    ASSERT_EQ(SetDynamicFlag(instance_.get(), kParamView, AEGP_DynStreamFlag_HIDDEN, true, false),
              PF_Err_NONE);
    EXPECT_TRUE(Shown(kParamView));
    ASSERT_TRUE(UndoLastStep());
    EXPECT_FALSE(Shown(kParamView));
    EXPECT_NE(SetDynamicFlag(instance_.get(), kParamView, 77, false, true), PF_Err_NONE);
}

TEST_F(ParamHostTest, AHiddenGroupHidesWhatItHolds) {
    EXPECT_TRUE(Shown(kParamRedMultiplier));
    ASSERT_EQ(SetDynamicFlag(instance_.get(), kParamChromaticAberrationStart,
                             AEGP_DynStreamFlag_HIDDEN, false, true),
              PF_Err_NONE);
    EXPECT_FALSE(Shown(kParamRedMultiplier));
    EXPECT_FALSE(Shown(kParamResetMultipliers));
    EXPECT_TRUE(Shown(kParamEdgeBehavior)) << "the group ends before Edge Behavior";
}

// --- `--set`, resolved against the controls as shown.

struct Resolves {
    const char* text;
    PF_ParamIndex index;
    double value;
    bool press;
};

TEST_F(ParamHostTest, SetRequestsResolveInDisplayedUnits) {
    const Resolves cases[] = {
        Resolves{"Uniform Scale=off", kParamUniformScale, 0, false},
        Resolves{"uniform scale = ON", kParamUniformScale, 1, false},
        Resolves{"Invert Map=1", kParamInvertMap, 1, false},
        Resolves{"Translate X=12.5%", kParamTranslateX, 12.5, false},
        Resolves{"Translate Y=-1000", kParamTranslateY, -1000, false},
        Resolves{"Rotate=-30", kParamRotate, -30, false},
        Resolves{"Rotate=-32768", kParamRotate, -32768, false},
        Resolves{"Rotate=32767.99998", kParamRotate, 32767.99998, false},
        Resolves{"Scale=50", kParamScaleX, 50, false},
        Resolves{"Scale X=50", kParamScaleX, 50, false},
        Resolves{"Channel=hue", kParamChannel, 6, false},
        Resolves{"Channel=8", kParamChannel, 8, false},
        Resolves{"Displacement Easing=Ease In & Out", kParamDisplacementEasing, 5, false},
        Resolves{"Red=-10", kParamRedMultiplier, -10, false},
        Resolves{"Reset Transforms", kParamResetTransforms, 0, true}};
    for (const Resolves& c : cases) {
        SCOPED_TRACE(c.text);
        SetRequest request;
        std::string error;
        ASSERT_TRUE(ParseSetRequest(c.text, &request, &error)) << error;
        ResolvedSetting setting;
        ASSERT_TRUE(ResolveSetRequest(*instance_, request, &setting, &error)) << error;
        EXPECT_EQ(setting.index, c.index);
        EXPECT_EQ(setting.press, c.press);
        if (!c.press) {
            EXPECT_DOUBLE_EQ(setting.value, c.value);
        }
    }
}

TEST_F(ParamHostTest, SetRequestsThatNameNoVisibleControlOrValueAreRefused) {
    const char* const cases[] = {"=5",
                                 "Nothing=1",
                                 "Translate X=1000.5",
                                 "Translate X=abc",
                                 "Translate X=",
                                 "Map Gamma=5%",
                                 "Channel=(-",
                                 "Channel=5",
                                 "Channel=0",
                                 "Channel=2.5",
                                 "Channel=Purple",
                                 "Invert Map=yes",
                                 "Rotate=inf",
                                 "Rotate=40000",  // would wrap in 16.16 fixed point
                                 "Rotate=-32768.5",
                                 "Scale Y=50",
                                 "Left=1",
                                 "Debug=1",
                                 "Transform=1",
                                 "Reset Transforms=1",
                                 "Channel",
                                 "Map Layer=none"};
    for (const char* text : cases) {
        SCOPED_TRACE(text);
        SetRequest request;
        std::string error;
        if (ParseSetRequest(text, &request, &error)) {
            ResolvedSetting setting;
            EXPECT_FALSE(ResolveSetRequest(*instance_, request, &setting, &error));
        }
        EXPECT_FALSE(error.empty()) << "with a reason";
    }
}

TEST_F(ParamHostTest, SettingsApplyInOrderAndStopAtTheFirstBadOne) {
    std::vector<SetRequest> requests(3);
    std::string error;
    ASSERT_TRUE(ParseSetRequest("Uniform Scale=off", &requests[0], &error));
    ASSERT_TRUE(ParseSetRequest("Scale Y=40", &requests[1], &error));
    ASSERT_TRUE(ParseSetRequest("Map Gamma=11", &requests[2], &error));
    EXPECT_EQ(ApplySetRequests(instance_.get(), requests, &error), 2);
    EXPECT_NE(error.find("Map Gamma"), std::string::npos) << error;
    EXPECT_EQ(Value(kParamScaleY), 40) << "made visible by the edit before it";

    Args args = {"--json", "--set", "Red=2", "--set=View=Map", "--set"};
    std::vector<SetRequest> taken;
    std::size_t i = 0;
    EXPECT_FALSE(TakeSetOption(args, &i, &taken, &error));
    error.clear();
    i = 1;
    ASSERT_TRUE(TakeSetOption(args, &i, &taken, &error));
    EXPECT_EQ(i, 2u) << "left on the operand it took";
    i = 3;
    ASSERT_TRUE(TakeSetOption(args, &i, &taken, &error));
    EXPECT_TRUE(error.empty()) << error;
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(taken[1].name, "View");
    EXPECT_EQ(taken[1].value, "Map");
    i = 4;
    EXPECT_TRUE(TakeSetOption(args, &i, &taken, &error));
    EXPECT_FALSE(error.empty()) << "a --set without its operand";
}

// --- The `vexorant` binary.

Json InfoJson(const std::vector<std::string>& sets) {
    std::vector<std::string> args = {"info", "--json"};
    for (const std::string& s : sets) {
        args.push_back("--set");
        args.push_back(s);
    }
    const RunResult run = RunVexorant(args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    Json json;
    EXPECT_TRUE(ParseJson(run.out, &json)) << run.out;
    return json;
}

TEST(VexorantInfo, ListsEveryParameterWithTheAgreedKeys) {
    const Json json = InfoJson({});
    const Json& params = json["params"];
    ASSERT_EQ(params.items.size(), 40u);
    const char* keys[] = {"index",      "id",        "name",          "text",      "type",
                          "flags",      "ui_flags",  "valid_min",     "valid_max", "slider_min",
                          "slider_max", "precision", "display_flags", "default",   "value",
                          "popup",      "visible",   "time_varying"};
    for (std::size_t i = 0; i < params.items.size(); ++i) {
        for (const char* key : keys) EXPECT_TRUE(params[i].Has(key)) << i << " " << key;
        EXPECT_EQ(params[i]["index"].number, double(i));
    }
    EXPECT_TRUE(params[0]["id"].IsNull());
    EXPECT_EQ(params[0]["type"].text, "LAYER");
    EXPECT_EQ(params[8]["id"].number, 36);
    EXPECT_EQ(params[8]["popup"].text, "None|(-|Ease In|Ease Out|Ease In & Out");
    EXPECT_TRUE(params[8]["valid_min"].IsNull());
    EXPECT_EQ(params[15]["text"].text, "Uniform Scale");
    EXPECT_EQ(params[15]["flags"].number, 0x42);
    EXPECT_FALSE(params[15]["time_varying"].boolean);
    EXPECT_EQ(params[20]["type"].text, "BUTTON");
    EXPECT_EQ(params[20]["text"].text, "Reset Transforms");
    EXPECT_EQ(params[22]["type"].text, "GROUP_START");
    EXPECT_EQ(params[25]["slider_min"].number, -1.3);
    EXPECT_EQ(params[25]["slider_max"].number, 1.3);
    EXPECT_EQ(params[12]["display_flags"].number, 1);
    EXPECT_EQ(params[14]["type"].text, "ANGLE");
    EXPECT_TRUE(params[29]["popup"].IsNull());
    EXPECT_EQ(params[39]["type"].text, "GROUP_END");
    // A new instance: "Scale" alone, and no debug controls.
    EXPECT_EQ(params[16]["name"].text, "Scale");
    EXPECT_FALSE(params[17]["visible"].boolean);
    for (int i = 33; i <= 39; ++i) EXPECT_FALSE(params[std::size_t(i)]["visible"].boolean) << i;
    for (int i : {1, 2, 3, 11, 16, 22, 32}) EXPECT_TRUE(params[std::size_t(i)]["visible"].boolean);
}

TEST(VexorantInfo, ShowsWhatTheEditsDid) {
    Json json = InfoJson({"Uniform Scale=off", "Scale Y=50", "Channel=Alpha"});
    EXPECT_EQ(json["params"][16]["name"].text, "Scale X");
    EXPECT_TRUE(json["params"][17]["visible"].boolean);
    EXPECT_EQ(json["params"][17]["value"].number, 50);
    EXPECT_EQ(json["params"][2]["value"].number, 4);

    json = InfoJson({"Translate X=30", "Rotate=15", "Reset Transforms"});
    EXPECT_EQ(json["params"][12]["value"].number, 0);
    EXPECT_EQ(json["params"][14]["value"].number, 0);
    const Json& undo = json["undo"];
    ASSERT_EQ(undo.items.size(), 3u);
    EXPECT_EQ(undo[2].text, "Reset Transform Controls");
}

TEST(VexorantInfo, ShowsKeyframedValuesAtTheFrameAskedUntilAButtonReplacesThem) {
    const std::vector<std::string> keyed = {"info",    "--json",
                                            "--set",   "Rotate=-90@2,630@6",
                                            "--set",   "Invert Map=on@0,off@4",
                                            "--set",   "Translate Y=10@0,20@6",
                                            "--frame", "5"};
    RunResult run = RunVexorant(keyed);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    Json json;
    ASSERT_TRUE(ParseJson(run.out, &json)) << run.out;
    EXPECT_EQ(json["params"][14]["value"].number, 450) << "through whole turns, as typed";
    EXPECT_EQ(json["params"][4]["value"].number, 0);
    std::vector<std::string> reset = keyed;
    reset.insert(reset.end() - 2, {"--set", "Reset Transforms"});
    run = RunVexorant(reset);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    ASSERT_TRUE(ParseJson(run.out, &json)) << run.out;
    EXPECT_EQ(json["params"][14]["value"].number, 0);
    EXPECT_EQ(json["params"][13]["value"].number, 0);
    EXPECT_EQ(json["params"][4]["value"].number, 0);
}

TEST(VexorantInfo, TheTextListingShowsGroupsAsTheUserSeesThem) {
    const RunResult run = RunVexorant({"info"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    auto line_of = [&](const std::string& name) {
        const std::size_t at = run.out.find(" " + name + " ");
        if (at == std::string::npos) return std::string();
        const std::size_t begin = run.out.rfind('\n', at) + 1;
        return run.out.substr(begin, run.out.find('\n', at) - begin);
    };
    EXPECT_NE(line_of("Map Adjustments").find("collapsed"), std::string::npos);
    EXPECT_NE(line_of("Chromatic Aberration").find("collapsed"), std::string::npos);
    EXPECT_NE(line_of("Transform").find("open"), std::string::npos);
    EXPECT_NE(line_of("Displacement Easing").find("5 Ease In & Out"), std::string::npos);
    EXPECT_EQ(run.out.find("Caching Behavior"), std::string::npos);
    EXPECT_EQ(run.out.find("Debug"), std::string::npos);
    EXPECT_TRUE(line_of("Scale Y").empty()) << "hidden while uniform scale is on";
    EXPECT_EQ(line_of("Invert Map").find("    Invert Map"), 0u) << "indented inside its group";
}

struct CliRefusal {
    std::vector<std::string> args;
    const char* says;
};

TEST(VexorantInfo, RefusesBadEditsWithExitCode2AndAMessage) {
    const CliRefusal cases[] = {
        CliRefusal{{"info", "--set", "Warp=3"}, "no control named 'Warp'"},
        CliRefusal{{"info", "--set", "Map Softness=101"}, "out of range"},
        CliRefusal{{"info", "--set", "Anti-Aliasing=2"}, "separator"},
        CliRefusal{{"info", "--set", "Scale Y=20"}, "hidden"},
        CliRefusal{{"info", "--json", "--set", "Invert Map=maybe"}, "on, off"},
        CliRefusal{{"info", "--set"}, "--set needs a value"},
        CliRefusal{{"info", "--set", "Rotate=0@4,90@2"}, "out of order"},
        CliRefusal{{"info", "--set", "Rotate=0@4,90@4"}, "repeats frame 4"},
        CliRefusal{{"info", "--set", "Map Gamma=1@0,11@5"}, "out of range"},
        CliRefusal{{"info", "--set", "Reset Transforms=1@0"}, "cannot be keyframed"},
        CliRefusal{{"info", "--set", "Uniform Scale=on@0,off@5"}, "takes no keyframes"}};
    for (const CliRefusal& c : cases) {
        SCOPED_TRACE(c.args.back());
        const RunResult run = RunVexorant(c.args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

// Every command reads its line alike: a missing value, a repeated or conflicting option is a
// usage error with the same words, and --help after any command prints that command's usage.
TEST(VexorantCommandLine, EveryCommandReadsItsOptionsAlike) {
    const std::string dump =
        ::testing::TempDir() + "vexorant_cli_pipl_" + std::to_string(getpid()) + ".bin";
    // Another name of the module: a dump there would replace the module itself.
    const std::string module_link =
        ::testing::TempDir() + "vexorant_cli_module_" + std::to_string(getpid()) + ".so";
    std::remove(module_link.c_str());
    ASSERT_EQ(symlink(VEXO_MODULE_PATH, module_link.c_str()), 0);
    struct Line {
        std::vector<std::string> args;
        int exit_code;
        const char* out;  // the start of standard output; "" for none
        const char* err;
    } const lines[] = {
        {{"render", "--help"}, 0, "usage: vexorant render", ""},
        {{"info", "--json", "--help"}, 0, "usage: vexorant info", ""},
        {{"demo", "-h"}, 0, "usage: vexorant demo", ""},
        {{"info", "--module"}, 2, "", "info: --module needs a value"},
        {{"demo", "--output-dir"}, 2, "", "demo: --output-dir needs a value"},
        {{"demo", "--output-dir", ""}, 2, "", "demo: --output-dir needs a value"},
        {{"render", "--input", "--output", "out.png"}, 2, "", "render: --input needs a value"},
        {{"info", "--json=yes"}, 2, "", "info: --json takes no value"},
        {{"render", "--input", "a.png", "--input", "b.png", "--output", "c.png"},
         2,
         "",
         "--input is given more than once"},
        {{"info", "--pipl-dump", dump, "--json"},
         2,
         "",
         "--pipl-dump cannot be combined with --json"},
        {{"info", "--set", "View=Map", "--pipl-dump", dump},
         2,
         "",
         "--pipl-dump cannot be combined with --set"},
        {{"info", "--pipl-dump", module_link}, 1, "", ": it is the effect module"},
    };
    for (const Line& line : lines) {
        SCOPED_TRACE(line.args[0] + " " + line.args[1]);
        const RunResult run = RunVexorant(line.args);
        EXPECT_EQ(run.exit_code, line.exit_code) << run.err;
        EXPECT_EQ(run.out.rfind(line.out, 0), 0u) << run.out;
        if (!*line.out) {
            EXPECT_TRUE(run.out.empty()) << run.out;
        }
        EXPECT_NE(run.err.find(line.err), std::string::npos) << run.err;
        EXPECT_FALSE(std::ifstream(dump).good()) << "written although refused";
    }
    struct stat st;
    EXPECT_TRUE(lstat(module_link.c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    std::remove(module_link.c_str());
}

}  // namespace
