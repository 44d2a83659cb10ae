// Drives the effect linked into the tests (not the module file) through the standalone host.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "AE_Effect.h"
#include "standalone/host.h"
#include "standalone/suites.h"

extern "C" PF_Err EffectMain(PF_Cmd cmd, PF_InData* in_data, PF_OutData* out_data,
                             PF_ParamDef* params[], PF_LayerDef* output, void* extra);

// Starts every test with no injected failures and an empty suite log, and fails it if a suite
// it acquired was never released.
class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        vexo_host::ClearFailures();
        vexo_host::ClearSuiteEvents();
        effect_.entry = EffectMain;
    }
    void TearDown() override {
        vexo_host::ClearFailures();
        EXPECT_TRUE(vexo_host::OutstandingSuites().empty())
            << "first outstanding: " << vexo_host::OutstandingSuites().front();
    }

    vexo_host::Effect effect_;
};
