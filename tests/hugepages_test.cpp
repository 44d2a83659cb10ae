// Malloc's huge pages: the programs' restart with glibc's tunable.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "standalone/hugepages.h"
#include "tests/support/shell.h"

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(HugePages, TheTunableIsAddedWithoutDisturbingTheUsersOwn) {
    struct Row {
        const char* current;   // null: unset
        const char* expected;  // empty: left as it is
    };
    const Row rows[] = {
        {nullptr, "glibc.malloc.hugetlb=1"},
        {"", "glibc.malloc.hugetlb=1"},
        {"glibc.malloc.check=3", "glibc.malloc.check=3:glibc.malloc.hugetlb=1"},
        {"glibc.malloc.check=3:", "glibc.malloc.check=3:glibc.malloc.hugetlb=1"},
        {"glibc.malloc.hugetlb=1", ""},
        // The user's own choice stands, off included.
        {"glibc.malloc.hugetlb=0", ""},
        {"glibc.malloc.check=3:glibc.malloc.hugetlb=2", ""},
        // A different tunable whose name merely ends alike is not this one.
        {"glibc.malloc.hugetlbx=1", "glibc.malloc.hugetlbx=1:glibc.malloc.hugetlb=1"},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(vexo_host::TunablesWithHugePages(r.current), r.expected)
            << (r.current ? r.current : "(unset)");
    }
}

TEST(HugePages, VexorantRestartsWithThemUnlessSwitchedOff) {
    const std::string vexorant = VEXO_VEXORANT_PATH;
    const std::string module = VEXO_MODULE_PATH;
    // `launcher` starts the program: the restart must not start the launcher over instead, and
    // the module beside the program is found there, not beside the launcher.
    const auto info = [&](const std::string& env, const std::string& launcher = "") {
        const ShellResult run = Shell(
            "env -u GLIBC_TUNABLES -u VEXORANT_HUGEPAGES " + env + " " + launcher + " '" +
            vexorant + "' info" + (launcher.empty() ? " --module '" + module + "'" : "") + " 2>&1");
        EXPECT_EQ(run.status, 0) << launcher << "\n" << run.output;
        const std::size_t at = run.output.find("Huge pages");
        return at == std::string::npos ? std::string()
                                       : run.output.substr(at, run.output.find('\n', at) - at);
    };
    const std::string loader =
        Shell("readelf -l '" + vexorant + "' | sed -n 's/.*interpreter: \\(.*\\)]/\\1/p'").output;
    const std::string launchers[] = {
        loader.empty() ? "" : loader.substr(0, loader.find('\n')),
        Shell("command -v valgrind").status == 0 ? "valgrind -q --tool=none" : "",
    };
    // A sanitizer's runtime must come first and leaks the loader's own allocations: only plain
    // builds can be started through a launcher.
    for (const std::string& launcher : launchers) {
        if (launcher.empty() || kSanitized) continue;
        EXPECT_NE(info("", launcher).find(" off ("), std::string::npos) << launcher;
    }
    std::ifstream thp("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string modes;
    std::getline(thp, modes);
    if (modes.find("[never]") != std::string::npos) {
        GTEST_SKIP() << "the kernel's transparent huge pages are off (" << modes << ")";
    }
    EXPECT_NE(info("").find(" on (glibc.malloc.hugetlb=1"), std::string::npos);
    EXPECT_NE(info("GLIBC_TUNABLES=glibc.malloc.check=0").find(" on ("), std::string::npos);
    EXPECT_NE(info("VEXORANT_HUGEPAGES=0").find(" off (VEXORANT_HUGEPAGES=0)"), std::string::npos);
    EXPECT_NE(info("GLIBC_TUNABLES=glibc.malloc.hugetlb=0").find(" off ("), std::string::npos);
    // The runner itself restarted the same way, and left no trace of the restart behind for the
    // programs it starts.
    if (!std::getenv("VEXORANT_HUGEPAGES")) {
        EXPECT_TRUE(vexo_host::HugePagesRequested());
    }
    EXPECT_EQ(std::getenv("VEXORANT_HUGEPAGES_RESTARTED"), nullptr);
}

}  // namespace
