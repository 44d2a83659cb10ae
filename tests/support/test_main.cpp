// The suites' main.
#include <gtest/gtest.h>

#include "gl/diagnostics.h"

namespace {

// The host's global setup sends the effect's diagnostics to standard error for the rest of the
// process; each test starts as in the application, with them on standard output, where the
// tests that read them capture them.
struct DiagnosticsOnStandardOutput : testing::EmptyTestEventListener {
    void OnTestStart(const testing::TestInfo&) override { SetDiagnosticSink(nullptr); }
};

}  // namespace

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    testing::UnitTest::GetInstance()->listeners().Append(new DiagnosticsOnStandardOutput);
    return RUN_ALL_TESTS();
}
