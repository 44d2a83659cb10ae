// Scoped suite access and the user-facing suite helpers.
#include <algorithm>
#include <functional>
#include <sstream>
#include <utility>
#include <vector>

#include "host/AEFX_SuiteHelper.h"
#include "host/AEGP_SuiteHandler.h"
#include "standalone/render_host.h"
#include "tests/support/effect_test_support.h"
#include "tests/support/host_test_support.h"

namespace {

using namespace vexo_host;

// The host's suites in release order, written out as the host documents them.
const char kSuiteList[] =
    "AEGP Marker Suite:1,2,3;AEGP Layer Suite:8,10;AEGP Stream Suite:10,9,8,7,4;"
    "AEGP Dynamic Stream Suite:2,3,5;AEGP Keyframe Suite:4,3,1;"
    "AEGP Comp Suite:9,11,14,15,18,19,21,25;AEGP Canvas Suite:10,11,13,14;AEGP Camera Suite:2;"
    "AEGP Register Suite:6;AEGP Item View Suite:1;AEGP Item Suite:13,11,10,7,3;"
    "AEGP PF Interface Suite:1;AEGP Math Suite:1;PF AE Adv Time Suite:4;PF Path Query Suite:1;"
    "AEGP Memory Suite:1;PF Path Data Suite:1;PF Param Utils Suite:3;PF AE App Suite:6,7,1;"
    "PF AE Adv App Suite:2;AEGP Light Suite:1,2;AEGP Effect Suite:1,2,3,4;"
    "AEGP Layer Mask Suite:5;AEGP Mask Outline Suite:2,3,5;AEGP Command Suite:1;"
    "AEGP Utility Suite:7;AEGP Render Suite:1,2,3,5,8;PF ANSI Suite:1;PF Handle Suite:2;"
    "PF Fill Matte Suite:2;PF World Transform Suite:1;AEGP QueryXform Suite:4;"
    "AEGP Composite Suite:4;PF World Suite:1;AEGP IO In Suite:5;AEGP IO Out Suite:7;"
    "AEGP Render Queue Suite:1;AEGP Render Queue Item Suite:3;AEGP Output Module Suite:4;"
    "AEGP File Import Manager Suite:3;PF Sampling8 Suite:1;PF Sampling16 Suite:1;"
    "PF Iterate8 Suite:1;PF iterate16 Suite:1;PF iterateFloat Suite:1;AEGP Collection Suite:2;"
    "AEGP Text Document Suite:1;AEGP Sound Data Suite:1;AEGP Text Layer Suite:1;"
    "AEGP Artisan Util Suite:1;AEGP World Suite:2,3;AEGP Render Options Suite:1;"
    "AEGP Tracker Suite:1;AEGP Tracker Utility Suite:1;AE Plugin Helper Suite2:2;"
    "AEGP Layer Suite:11,12,13,14;PF AE Adv Item Suite:1;AEGP Layer Suite:5;"
    "AEGP Layer Mask Suite:2,6,7;AEGP Comp Suite:4;AEGP Collection Suite:1;"
    "PF AE Adv App Suite:1;AEGP Utility Suite:3;AEGP Render Options Suite:2;"
    "AEGP Layer Render Options Suite:1,2;AEGP Render Asyc Manager Suite:1;AEGP Proj Suite:8,9;"
    "AEGP Footage Suite:11;AEGP Render Queue Item Suite:4;AEGP Utility Suite:10;"
    "AEGP Persistent Data Suite:4,3;PF Color Settings Suite:4,3,1;PF ColorParamSuite:1;"
    "PF SamplingFloat Suite:1;AEGP Utility Suite:11,13;PF Effect Custom UI Suite:1,2;"
    "PF Effect Custom UI Overlay Theme Suite:1;DRAWBOT Draw Suite:1;DRAWBOT Supplier Suite:1;"
    "DRAWBOT Surface Suite:2;DRAWBOT Path Suite:1;SP Suites Suite:2";

std::vector<std::pair<std::string, int>> ExpectedSuites() {
    std::vector<std::pair<std::string, int>> rows;
    std::stringstream list(kSuiteList);
    std::string group;
    while (std::getline(list, group, ';')) {
        const auto colon = group.find(':');
        std::stringstream versions(group.substr(colon + 1));
        std::string v;
        while (std::getline(versions, v, ','))
            rows.emplace_back(group.substr(0, colon), std::stoi(v));
    }
    return rows;
}

std::vector<std::pair<std::string, int>> Released() {
    std::vector<std::pair<std::string, int>> out;
    for (const SuiteEvent& e : SuiteEvents()) {
        if (!e.acquire) out.emplace_back(e.name, e.version);
    }
    return out;
}

int Acquires() {
    int n = 0;
    for (const SuiteEvent& e : SuiteEvents()) n += e.acquire;
    return n;
}

const int kDummyTable = 0;

TEST_F(HostTest, EveryRowIsAcquiredByItsAccessorAndReleasedOnceInTableOrder) {
    const auto expected = ExpectedSuites();
    ASSERT_EQ(expected.size(), 132u);
    ASSERT_EQ(int(AEGP_SuiteHandler::kSuiteCount), 132);
    for (const auto& [name, version] : expected) {
        // The host's own handle and ANSI suites stay real: later tests run global setup on them.
        if ((name == "PF Handle Suite" && version == 2) ||
            (name == "PF ANSI Suite" && version == 1))
            continue;
        RegisterSuite(name.c_str(), version, &kDummyTable);
    }
    {
        AEGP_SuiteHandler suites(BasicSuite());
        std::vector<std::function<const void*()>> accessors;
#define VEXO_USE_SUITE(accessor, name, version, type) \
    accessors.push_back([&] { return static_cast<const void*>(suites.accessor()); });
        VEXO_SUITE_TABLE(VEXO_USE_SUITE)
#undef VEXO_USE_SUITE
        // Backwards, so the release order cannot merely mirror the order of first use.
        for (auto it = accessors.rbegin(); it != accessors.rend(); ++it)
            ASSERT_NE((*it)(), nullptr);
        auto acquired = SuiteEvents();
        ASSERT_EQ(acquired.size(), 132u);
        EXPECT_EQ(acquired.front().name, "SP Suites Suite");
        ClearSuiteEvents();
    }
    EXPECT_EQ(Released(), expected);
}

TEST_F(HostTest, SuitesAreAcquiredLazilyOncePerNameAndVersion) {
    { AEGP_SuiteHandler unused(BasicSuite()); }
    EXPECT_TRUE(SuiteEvents().empty());

    {
        AEGP_SuiteHandler suites(BasicSuite());
        EXPECT_EQ(suites.HandleSuite2(), suites.HandleSuite2());
        EXPECT_EQ(Acquires(), 1);
    }
    EXPECT_EQ(Released().size(), 1u);

    ClearSuiteEvents();
    RegisterSuite("AEGP Stream Suite", 7, &kDummyTable);
    RegisterSuite("AEGP Stream Suite", 9, &kDummyTable);
    {
        AEGP_SuiteHandler suites(BasicSuite());
        suites.StreamSuite9();
        suites.StreamSuite7();
    }
    const std::vector<std::pair<std::string, int>> both = {{"AEGP Stream Suite", 9},
                                                           {"AEGP Stream Suite", 7}};
    EXPECT_EQ(Released(), both);
}

TEST_F(HostTest, MissingOrEmptySuiteRaises516AndReleasesWhatWasAcquired) {
    RegisterSuite("AEGP Utility Suite", 7, &kDummyTable);
    WithholdSuite("AEGP Stream Suite", 9);
    NullSuite("AEGP Utility Suite", 7);
    for (int which = 0; which < 2; ++which) {
        ClearSuiteEvents();
        try {
            AEGP_SuiteHandler suites(BasicSuite());
            suites.HandleSuite2();
            which == 0 ? static_cast<const void*>(suites.StreamSuite9())
                       : static_cast<const void*>(suites.UtilitySuite7());
            ADD_FAILURE() << "no error raised";
        } catch (PF_Err err) {
            EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
        }
        const std::vector<std::pair<std::string, int>> handle_only = {{"PF Handle Suite", 2}};
        EXPECT_EQ(Released(), handle_only);
    }
    // The host counted the acquire that handed back no table; the handler owes no release for
    // it, so balance the host's books here.
    BasicSuite()->ReleaseSuite("AEGP Utility Suite", 7);
}

TEST_F(HostTest, NullBasicSuiteRaises516) {
    try {
        AEGP_SuiteHandler suites(nullptr);
        ADD_FAILURE() << "no error raised";
    } catch (PF_Err err) {
        EXPECT_EQ(err, PF_Err_BAD_CALLBACK_PARAM);
    }
}

// The host serves each (name, version) its own table layout: a handler asking for another
// version than the one its calls are written against reads the wrong slots.
using SuiteSet = std::vector<std::pair<std::string, int>>;

struct CommandSuites {
    const char* command;
    std::function<PF_Err(Effect*, Instance*)> send;
    SuiteSet suites;  // sorted
};

TEST_F(ParamHostTest, EachCommandAcquiresExactlyItsSuitesAtTheirVersions) {
    const SuiteSet none;
    const World input = MakeWorld(8, 4, 8);
    // In this order: each row runs on what the rows before it left.
    const CommandSuites rows[] = {
        {"about",
         [](Effect* effect, Instance*) {
             std::string text;
             return SendAbout(*effect, &text);
         },
         {{"PF ANSI Suite", 1}}},
        {"global setup",
         [](Effect* effect, Instance*) { return SendGlobalSetup(effect); },
         {{"PF Handle Suite", 2}, {"VEXO Diagnostics Suite", 1}}},
        {"params setup",
         [](Effect* effect, Instance*) {
             Instance fresh(effect);
             PF_OutData out{};
             return SendToInstance(&fresh, PF_Cmd_PARAMS_SETUP, &out, nullptr);
         },
         none},
        {"update params UI",
         [](Effect*, Instance* instance) { return SendUpdateParamsUI(instance); },
         {{"AEGP Dynamic Stream Suite", 2},
          {"AEGP Effect Suite", 2},
          {"AEGP PF Interface Suite", 1},
          {"AEGP Stream Suite", 7},
          {"PF Param Utils Suite", 3}}},
        {"user changed a reset button",
         [](Effect*, Instance* instance) {
             return SendUserChangedParam(instance, kParamResetTransforms);
         },
         {{"AEGP Effect Suite", 3},
          {"AEGP PF Interface Suite", 1},
          {"AEGP Stream Suite", 9},
          {"AEGP Utility Suite", 7}}},
        {"user changed uniform scale",
         [](Effect*, Instance* instance) {
             return SendUserChangedParam(instance, kParamUniformScale);
         },
         {{"AEGP Effect Suite", 3}, {"AEGP PF Interface Suite", 1}}},
        {"smart pre-render and render",
         [&input](Effect*, Instance* instance) {
             World output = MakeWorld(8, 4, 8);
             std::vector<std::string> problems;
             const PF_Err err =
                 RenderFrame(instance, FrameLayers{&input, nullptr}, {}, &output, &problems);
             EXPECT_TRUE(problems.empty()) << problems.front();
             return err;
         },
         none},
        {"global setdown",
         [](Effect* effect, Instance*) { return SendGlobalSetdown(effect); },
         {{"PF Handle Suite", 2}}},
    };
    for (const CommandSuites& row : rows) {
        ClearSuiteEvents();
        EXPECT_EQ(row.send(&effect_, instance_.get()), PF_Err_NONE) << row.command;
        SuiteSet acquired, released;
        for (const SuiteEvent& e : SuiteEvents())
            (e.acquire ? acquired : released).emplace_back(e.name, e.version);
        std::sort(acquired.begin(), acquired.end());
        std::sort(released.begin(), released.end());
        EXPECT_EQ(acquired, row.suites) << row.command;
        EXPECT_EQ(released, acquired) << row.command;
    }
}

class AefxTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        in_ = MakeInData(effect_, nullptr);
        out_ = PF_OutData{};
    }
    PF_InData in_;
    PF_OutData out_;
};

TEST_F(AefxTest, AcquireReportsFailureToTheUser) {
    void* suite = nullptr;
    EXPECT_EQ(AEFX_AcquireSuite(&in_, &out_, "PF Handle Suite", 2, nullptr, &suite), PF_Err_NONE);
    EXPECT_NE(suite, nullptr);
    EXPECT_EQ(out_.out_flags, 0);
    EXPECT_EQ(AEFX_ReleaseSuite(&in_, &out_, "PF Handle Suite", 2, nullptr), PF_Err_NONE);

    EXPECT_EQ(AEFX_AcquireSuite(&in_, &out_, "No Such Suite", 1, nullptr, &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(out_.return_msg, "Not able to acquire AEFX Suite.");
    EXPECT_EQ(out_.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE, PF_OutFlag_DISPLAY_ERROR_MESSAGE);

    EXPECT_EQ(AEFX_AcquireSuite(&in_, &out_, "No Such Suite", 1, "100% gone", &suite),
              PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(out_.return_msg, "100% gone");
}

TEST_F(AefxTest, DrawbotSuites) {
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&in_, &out_, nullptr), PF_Err_UNRECOGNIZED_PARAM_TYPE);
    EXPECT_STREQ(out_.return_msg, "NULL suite pointer passed to AEFX_AcquireDrawbotSuites");

    DRAWBOT_Suites suites{};
    WithholdSuite("DRAWBOT Draw Suite", 1);
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&in_, &out_, &suites), PF_Err_BAD_CALLBACK_PARAM);
    EXPECT_STREQ(out_.return_msg, "Not able to acquire AEFX Suite.");
    for (const SuiteEvent& e : SuiteEvents()) EXPECT_EQ(e.name, "DRAWBOT Draw Suite");

    ClearFailures();
    RegisterSuite("DRAWBOT Draw Suite", 1, &kDummyTable);
    RegisterSuite("DRAWBOT Supplier Suite", 1, &kDummyTable);
    RegisterSuite("DRAWBOT Surface Suite", 2, &kDummyTable);
    RegisterSuite("DRAWBOT Path Suite", 1, &kDummyTable);
    EXPECT_EQ(AEFX_AcquireDrawbotSuites(&in_, &out_, &suites), PF_Err_NONE);
    EXPECT_NE(suites.path_suiteP, nullptr);
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&in_, &out_), PF_Err_NONE);

    out_ = PF_OutData{};
    in_.pica_basicP = nullptr;
    EXPECT_EQ(AEFX_ReleaseDrawbotSuites(&in_, &out_), PF_Err_NONE);
    EXPECT_STREQ(out_.return_msg, "Not able to release AEFX Suite.");
}

}  // namespace
