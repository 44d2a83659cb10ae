// The module file as a host sees it, and the standalone host's front door.
#include <gtest/gtest.h>

#include "tests/support/shell.h"

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

namespace {

const std::string kVexorant = VEXO_VEXORANT_PATH;

TEST(Module, ExportsOnlyTheEntryPoint) {
    const ShellResult nm = Shell("nm -D --defined-only " + std::string(VEXO_MODULE_PATH));
    ASSERT_EQ(nm.status, 0) << nm.output;
    std::string symbols;
    std::istringstream lines(nm.output);
    for (std::string line; std::getline(lines, line);) {
        symbols += line.substr(line.find_last_of(' ') + 1) + "\n";
    }
    EXPECT_EQ(symbols, "EffectMain\n");
}

TEST(Vexorant, InfoPrintsTheAboutTextAndPropertyList) {
    const ShellResult info = Shell(kVexorant + " info");
    ASSERT_EQ(info.status, 0) << info.output;
    EXPECT_EQ(info.output.rfind("Vexorant Pro v1.1.0\n\nDisplaces pixels", 0), 0u) << info.output;
    EXPECT_NE(info.output.find("0x00088001"), std::string::npos);
    EXPECT_NE(info.output.find("EffectMain"), std::string::npos);

    const ShellResult json = Shell(kVexorant + " info --json");
    ASSERT_EQ(json.status, 0) << json.output;
    EXPECT_EQ(json.output.front(), '{');
    EXPECT_NE(json.output.find("\"out_flags2\":134222856"), std::string::npos) << json.output;
}

TEST(Vexorant, DumpsThePropertyListFromTheModuleFile) {
    const std::string dump = ::testing::TempDir() + "pipl.bin";
    const ShellResult run = Shell(kVexorant + " info --pipl-dump " + dump);
    ASSERT_EQ(run.status, 0) << run.output;
    std::ifstream in(dump, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(bytes.size(), 290u);
}

TEST(Vexorant, ClearErrorsAndExitCodes) {
    ShellResult run = Shell(kVexorant + " info --module /nonexistent/VexorantPro.so");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("vexorant: cannot open /nonexistent/VexorantPro.so"),
              std::string::npos)
        << run.output;

    const std::string fake = ::testing::TempDir() + "fake_module.so";
    std::ofstream(fake) << "not a module";
    run = Shell(kVexorant + " info --module " + fake);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.output.find("is not an ELF module"), std::string::npos) << run.output;

    run = Shell(kVexorant + " frobnicate");
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("unknown command 'frobnicate'"), std::string::npos);

    run = Shell(kVexorant + " info --bogus");
    EXPECT_EQ(run.status, 2);

    run = Shell(kVexorant);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.output.find("usage:"), std::string::npos);
}

}  // namespace
