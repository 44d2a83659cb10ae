// A host may load and unload the module many times in one process (projects closed and opened,
// plug-in rescans). Each load, global setup, setdown and unload must hand back all it took.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standalone/session.h"
#include "standalone/suites.h"
#include "tests/support/memory_usage.h"

namespace {

using namespace vexo_host;

void LoadSetUpAndUnload() {
    Session session;
    std::string error;
    ASSERT_TRUE(OpenSession(VEXO_MODULE_PATH, &session, &error)) << error;
    const std::vector<std::string> problems = CloseSession(&session);
    EXPECT_TRUE(problems.empty()) << problems.front();
}

TEST(ModuleReload, RepeatedLoadsLeaveNoMemoryBehind) {
    // The first cycles load the driver and let it fill its caches.
    for (int i = 0; i < 8; ++i) LoadSetUpAndUnload();
    const std::size_t before = vexo_test::HeapInUse();
    constexpr int kCycles = 24;
    for (int i = 0; i < kCycles; ++i) LoadSetUpAndUnload();
    const std::size_t after = vexo_test::HeapInUse();
    EXPECT_EQ(LiveHandles(), 0u);
    EXPECT_TRUE(OutstandingSuites().empty());

    // Memory the unloaded module still held is reachable from nowhere now; the leak check of
    // sanitized builds finds it to the byte.
    EXPECT_NE(vexo_test::CheckForLeaksNow(), 1) << "the leak report is on standard error";
    // Elsewhere only the heap's size tells: a context kept per cycle would add megabytes, while
    // the driver's own caches still grow by a kilobyte or two per context it has made.
    EXPECT_LT(double(after) - double(before), 64.0 * 1024 * kCycles)
        << "heap " << before << " -> " << after << " over " << kCycles << " cycles";
}

}  // namespace
