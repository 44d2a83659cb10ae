// The suites' main: the runner takes malloc's huge pages as the programs under test do, so that
// frame timings and page faults in the tests match theirs.
#include <gtest/gtest.h>

#include "standalone/hugepages.h"

int main(int argc, char** argv) {
    vexo_host::ReexecWithHugePages(argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
