// The entry point: dispatch, the about box, global setup and setdown, and how failures reach
// the host.
#include <cstring>

#include "context/render_data.h"
#include "host/AEGP_SuiteHandler.h"
#include "tests/support/effect_test_support.h"

namespace {

using namespace vexo_host;

TEST_F(HostTest, UnhandledSelectorsTouchNothing) {
    for (PF_Cmd cmd : std::initializer_list<PF_Cmd>{
             PF_Cmd_UNUSED_0, PF_Cmd_SEQUENCE_SETUP, PF_Cmd_RENDER, PF_Cmd_FRAME_SETUP,
             PF_Cmd_DO_DIALOG, PF_Cmd_EVENT, 25, 30, 1000, -1}) {
        PF_InData in = MakeInData(effect_, nullptr);
        PF_OutData out;
        std::memset(&out, 0xA5, sizeof out);
        PF_OutData before = out;
        EXPECT_EQ(Send(effect_, cmd, &in, &out, nullptr, nullptr, nullptr), PF_Err_NONE) << cmd;
        EXPECT_EQ(std::memcmp(&out, &before, sizeof out), 0) << "selector " << cmd;
    }
    EXPECT_TRUE(SuiteEvents().empty());
}

TEST_F(HostTest, AboutTextIsTheSevenLines) {
    std::string text;
    ASSERT_EQ(SendAbout(effect_, &text), PF_Err_NONE);
    EXPECT_EQ(text,
              "Vexorant Pro v1.1.0\n"
              "\n"
              "Displaces pixels based on selected channels\n"
              "using a variety of transformations.\n"
              "\n"
              "Copyright 2026 Vexorant. All rights reserved.\n"
              "https://vexorant.pro\n");
    const auto events = SuiteEvents();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].name, "PF ANSI Suite");
    EXPECT_TRUE(events[0].acquire);
    EXPECT_FALSE(events[1].acquire);
}

TEST_F(HostTest, MissingSuiteIsReturnedAs516) {
    WithholdSuite("PF ANSI Suite", 1);
    std::string text;
    EXPECT_EQ(SendAbout(effect_, &text), PF_Err_BAD_CALLBACK_PARAM);
    WithholdSuite("PF Handle Suite", 2);
    EXPECT_EQ(SendGlobalSetup(&effect_), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(HostTest, NullBasicSuiteIsReturnedAs516) {
    PF_InData in = MakeInData(effect_, nullptr);
    in.pica_basicP = nullptr;
    PF_OutData out{};
    EXPECT_EQ(Send(effect_, PF_Cmd_ABOUT, &in, &out), PF_Err_BAD_CALLBACK_PARAM);
}

TEST_F(HostTest, GlobalSetupDeclaresVersionAndFlagsAndSetdownFreesTheBlock) {
    const std::size_t handles = LiveHandles();
    ASSERT_EQ(SendGlobalSetup(&effect_), PF_Err_NONE);
    EXPECT_EQ(effect_.version, 0x00088001u);
    EXPECT_EQ(uint32_t(effect_.out_flags), 0x04000000u);
    EXPECT_EQ(uint32_t(effect_.out_flags2), 0x08001408u);
    ASSERT_NE(effect_.global_data, nullptr);
    EXPECT_EQ(LiveHandles(), handles + 1);

    const auto* block = static_cast<const LocalGLStruct*>(static_cast<void*>(*effect_.global_data));
    ASSERT_NE(block, nullptr);
    if (!block->context) {
        const GLPrograms none{};
        EXPECT_EQ(std::memcmp(&block->programs, &none, sizeof none), 0);
    }

    ASSERT_EQ(SendGlobalSetdown(&effect_), PF_Err_NONE);
    EXPECT_EQ(effect_.global_data, nullptr);
    EXPECT_EQ(LiveHandles(), handles);
}

TEST_F(HostTest, GlobalSetupWithoutMemoryFailsInsteadOfLeavingNoBlock) {
    FailCall("host_new_handle", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SendGlobalSetup(&effect_), PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(effect_.global_data, nullptr);
}

TEST_F(HostTest, GlobalSetupWithAnUnlockableBlockStillSucceeds) {
    const std::size_t handles = LiveHandles();
    FailCall("host_lock_handle", PF_Err_OUT_OF_MEMORY);
    EXPECT_EQ(SendGlobalSetup(&effect_), PF_Err_NONE);
    EXPECT_NE(effect_.global_data, nullptr);
    EXPECT_EQ(SendGlobalSetdown(&effect_), PF_Err_NONE);
    EXPECT_EQ(LiveHandles(), handles);
}

TEST_F(HostTest, SetdownWithoutSetupDoesNothing) {
    EXPECT_EQ(SendGlobalSetdown(&effect_), PF_Err_NONE);
    EXPECT_TRUE(SuiteEvents().empty());
}

}  // namespace
