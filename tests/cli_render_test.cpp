// `vexorant render` and `vexorant demo` as a user runs them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <string>

#include "standalone/image_io.h"
#include "tests/support/render_test_support.h"
#include "tests/support/shell.h"

namespace {

using namespace vexo_host;

const std::string kVexorant = VEXO_VEXORANT_PATH;

bool Exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

class CliRenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Per process too: two runs of the suite may share the temporary folder.
        dir_ = ::testing::TempDir() + "cli_render_" + std::to_string(getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name() + "/";
        Shell("rm -rf " + dir_ + " && mkdir -p " + dir_);
    }
    void TearDown() override { Shell("rm -rf " + dir_); }
    std::string Path(const std::string& name) const { return dir_ + name; }
    void Write(const std::string& name, const World& w) {
        std::string error;
        ASSERT_TRUE(WriteImage(Path(name), w, &error)) << error;
    }
    World Read(const std::string& name, int depth = 0) {
        World w;
        std::string error;
        EXPECT_TRUE(ReadImage(Path(name), depth, &w, &error)) << error;
        return w;
    }
    ShellResult Render(const std::string& options) {
        return Shell(kVexorant + " render " + options);
    }
    std::string dir_;
};

// Straight alpha, as stored: a half-transparent pixel keeps its colour through the round trip.
World Straight(A_long w, A_long h, int depth) {
    return Fill(w, h, depth, [](A_long x, A_long y, float* p) {
        p[0] = (x + y) % 3 == 0 ? 128 / 255.0f : 1.0f;
        p[1] = 200 / 255.0f;
        p[2] = float(x) / 255.0f;
        p[3] = float(y * 3) / 255.0f;
    });
}

TEST_F(CliRenderTest, DefaultControlsRoundTripFilesExactly) {
    const World png = Straight(40, 30, 8);
    Write("in.png", png);
    ShellResult run = Render("--input " + Path("in.png") + " --output " + Path("out.png"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("rendered 1 frame(s)"), std::string::npos);
    EXPECT_EQ(MaxDifference(Read("out.png"), png), 0.0f);

    // Float files render at 32 bits and keep values a byte could not hold.
    const World exr = Fill(20, 10, 32, [](A_long x, A_long, float* p) {
        p[0] = 1.0f, p[1] = 3.5f, p[2] = -0.25f, p[3] = float(x) / 7.0f;
    });
    Write("in.exr", exr);
    run = Render("--input " + Path("in.exr") + " --output " + Path("out.exr"));
    ASSERT_EQ(run.status, 0) << run.output;
    const World back = Read("out.exr");
    EXPECT_EQ(back.depth, 32);
    EXPECT_LT(MaxDifference(back, exr), 1e-5f);
}

TEST_F(CliRenderTest, MapOriginSettingsAndSequences) {
    for (int f = 1; f <= 3; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "in.%04d.png", f);
        Write(name, Straight(32, 16, 8));
    }
    Write("map.png", Fill(32, 16, 8, [](A_long, A_long, float* p) { p[0] = p[1] = 1.0f; }));
    const ShellResult run =
        Render("--input " + Path("in.%04d.png") + " --map " + Path("map.png") +
               " --map-origin -12,-4 --set Channel=Red --set \"Translate X=10\" --frames 1-3" +
               " --threads 2 --output " + Path("out.####.png"));
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("rendered 3 frame(s)"), std::string::npos) << run.output;
    for (const char* name : {"out.0001.png", "out.0002.png", "out.0003.png"}) {
        EXPECT_TRUE(Exists(Path(name))) << name;
    }
    // The map, moved 12 pixels left, covers columns 0..19: their pixels moved 3 to the right.
    const World in = Read("in.0002.png"), out = Read("out.0002.png");
    EXPECT_EQ(GetChannel(out, 10, 5, 2), GetChannel(in, 7, 5, 2));
    EXPECT_EQ(GetChannel(out, 25, 5, 2), GetChannel(in, 25, 5, 2));
}

TEST_F(CliRenderTest, ErrorsNameTheCauseAndLeaveNoOutput) {
    Write("in.png", Straight(8, 8, 8));
    struct Case {
        std::string options;
        int status;
        std::string message;
    } cases[] = {
        {"--input " + Path("missing.png") + " --output " + Path("out.png"), 1,
         "cannot read " + Path("missing.png")},
        {"--input " + Path("in.png") + " --output " + Path("out.png") + " --depth 16", 2,
         "--depth is 8 or 32"},
        {"--input " + Path("in.####.png") + " --output " + Path("out.png"), 2, "needs --frames"},
        {"--input " + Path("in.png") + " --output " + Path("out.png") + " --set Bogus=1", 2,
         "Bogus"},
        {"--input " + Path("in.png") + " --output " + Path("out.png") +
             " --set \"Edge Behavior=(-\"",
         2, "Edge Behavior"},
        {"--input " + Path("in.png"), 2, "needs --input and --output"},
        {"--input " + Path("in.png") + " --output " + Path("no/such/dir/out.png"), 1,
         "cannot write"},
    };
    for (const Case& c : cases) {
        const ShellResult run = Render(c.options);
        EXPECT_EQ(run.status, c.status) << c.options << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.options << "\n" << run.output;
        EXPECT_FALSE(Exists(Path("out.png"))) << c.options;
    }
}

TEST_F(CliRenderTest, ARefusedFrameReportsTheHostErrorAndWritesNothing) {
    // Wide enough that 4x supersampling exceeds what a GL context can hold.
    Write("wide.png", Straight(20000 / 4 + 1, 2, 8));
    const ShellResult run = Render("--input " + Path("wide.png") + " --set Anti-Aliasing=4x" +
                                   " --output " + Path("out.png"));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("render failed with host error 4"), std::string::npos) << run.output;
    EXPECT_FALSE(Exists(Path("out.png")));
    EXPECT_EQ(Shell("ls -A " + dir_).output, "wide.png\n");  // no temporary left behind
}

TEST_F(CliRenderTest, DemoWritesTheResultAndTheMapView) {
    const ShellResult run = Shell(kVexorant + " demo --output-dir " + dir_);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("vexorant-demo.png"), std::string::npos);
    const World result = Read("vexorant-demo.png"), map = Read("vexorant-demo-map.png");
    EXPECT_EQ(result.def.width, 640);
    // The map view is grey: red, green and blue agree everywhere.
    for (A_long x = 0; x < 640; x += 37) {
        EXPECT_EQ(GetChannel(map, x, 100, 1), GetChannel(map, x, 100, 3));
    }
}

}  // namespace
