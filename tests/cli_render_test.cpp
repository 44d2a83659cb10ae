// `vexorant render` and `vexorant demo` as a user runs them.
#include <gtest/gtest.h>

#include <OpenImageIO/imageio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
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

std::string BytesOf(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
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
        const std::size_t slash = name.rfind('/');
        if (slash != std::string::npos) Shell("mkdir -p '" + Path(name.substr(0, slash)) + "'");
        std::string error;
        ASSERT_TRUE(WriteImage(Path(name), w, &error)) << error;
    }
    World Read(const std::string& name, int depth = 0, SampleFormat* format = nullptr) {
        World w;
        std::string error;
        EXPECT_TRUE(ReadImage(Path(name), depth, &w, &error, format)) << error;
        return w;
    }
    // Run in the test's folder, where a bare module name finds its file.
    ShellResult Render(const std::string& options) {
        return Shell("cd '" + dir_ + "' && " + kVexorant + " render " + options);
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
    // Without --frames a # or % is part of a name, in a folder name or a file name alike.
    const World png = Straight(40, 30, 8);
    Write("take#2/50%done.png", png);
    ShellResult run = Render("--input '" + Path("take#2/50%done.png") + "' --output '" +
                             Path("take#2/out_#.png") + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("rendered 1 frame(s)"), std::string::npos);
    EXPECT_EQ(MaxDifference(Read("take#2/out_#.png"), png), 0.0f);

    // Float files render at 32 bits and keep values a byte could not hold.
    const World exr = Fill(20, 10, 32, [](A_long x, A_long, float* p) {
        p[0] = 1.0f, p[1] = 3.5f, p[2] = -0.25f, p[3] = float(x) / 7.0f;
    });
    Write("in.exr", exr);
    // An output already there keeps its permissions; the name written shows the new picture,
    // and the file's other hard links keep the old one.
    Write("out.exr", png);
    Shell("chmod 600 " + Path("out.exr") + " && ln " + Path("out.exr") + " " + Path("also.exr"));
    const std::string old_exr = BytesOf(Path("out.exr"));
    run = Render("--input " + Path("in.exr") + " --output " + Path("out.exr"));
    ASSERT_EQ(run.status, 0) << run.output;
    const World back = Read("out.exr");
    EXPECT_EQ(back.depth, 32);
    EXPECT_LT(MaxDifference(back, exr), 1e-5f);
    EXPECT_TRUE(BytesOf(Path("also.exr")) == old_exr);
    struct stat st;
    ASSERT_EQ(stat(Path("out.exr").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // A fourth channel is alpha only where the file names it so: depth (Z) is not, and the
    // render says once, not once per frame, that it reads the file as opaque.
    for (const std::string frame : {"1", "2"}) {
        const std::string name = Path("rgbz." + frame + ".exr");
        auto out = OIIO::ImageOutput::create(name);
        OIIO::ImageSpec layout(4, 2, 4, OIIO::TypeDesc::FLOAT);
        layout.channelnames = {"R", "G", "B", "Z"};
        float pixels[2][4][4];
        for (auto& row : pixels)
            for (auto& px : row) px[0] = px[1] = px[2] = 0.25f, px[3] = 5.0f;
        ASSERT_TRUE(out && out->open(name, layout) &&
                    out->write_image(OIIO::TypeDesc::FLOAT, pixels) && out->close());
    }
    run = Render("--input rgbz.#.exr --frames 1-2 --output rgbz_out.#.exr");
    ASSERT_EQ(run.status, 0) << run.output;
    const std::size_t note = run.output.find(
        "vexorant: note: rgbz.1.exr names none of its channels alpha: read as opaque\n");
    ASSERT_NE(note, std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("alpha", run.output.find('\n', note)), std::string::npos)
        << run.output;
    const World opaque =
        Fill(4, 2, 32, [](A_long, A_long, float* p) { p[0] = 1.0f, p[1] = p[2] = p[3] = 0.25f; });
    EXPECT_EQ(MaxDifference(Read("rgbz_out.2.exr"), opaque), 0.0f);

    // 16-bit files render at 32 bits and come out 16-bit, every step kept (a byte holds one in
    // 257); only the user's choice or a format without them makes them shallower.
    const World deep = Fill(24, 12, 32, [](A_long x, A_long y, float* p) {
        p[0] = float(40000 + x * 7) / 65535, p[1] = float(x * 2731 + y) / 65535;
        p[2] = float(65535 - y * 513) / 65535, p[3] = float(x * y + 1) / 65535;
    });
    std::string error;
    SampleFormat stored = SampleFormat::kFloat;
    for (const std::string ext : {".png", ".tif"}) {
        ASSERT_TRUE(WriteImage(Path("in16" + ext), deep, SampleFormat::kUint16, &error)) << error;
        run = Render("--input in16" + ext + " --output out16" + ext);
        ASSERT_EQ(run.status, 0) << run.output;
        EXPECT_EQ(run.output.find("note:"), std::string::npos) << run.output;
        const World in16 = Read("in16" + ext, 32), out16 = Read("out16" + ext, 0, &stored);
        EXPECT_EQ(stored, SampleFormat::kUint16) << ext;
        EXPECT_EQ(out16.depth, 32) << ext;
        EXPECT_EQ(MaxDifference(out16, in16), 0.0f) << ext;
    }
    run = Render("--input in16.png --output-samples uint8 --output out8.png");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_LE(MaxDifference(Read("out8.png", 32, &stored), Read("in16.png", 32)), 0.5f / 255);
    EXPECT_EQ(stored, SampleFormat::kUint8);
    run = Render("--input in16.tif --output out16.jpg");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("vexorant: note: out16.jpg holds no 16-bit samples; written as "
                              "8-bit\n"),
              std::string::npos)
        << run.output;
    Read("out16.jpg", 0, &stored);
    EXPECT_EQ(stored, SampleFormat::kUint8);

    // A symbolic link (relative, from another folder) leads to the file replaced, and stays a
    // link. Noise, so that the picture is larger than the file-size limit below.
    const World noise = Fill(128, 128, 8, [](A_long x, A_long y, float* p) {
        uint32_t h = uint32_t(y * 128 + x) * 2654435761u;
        for (int c = 0; c < 4; ++c) {
            h ^= h >> 15, h *= 2246822519u, h ^= h >> 13;
            p[c] = float(h & 255) / 255.0f;
        }
    });
    Write("noise.png", noise);
    Write("old.png", png);
    Shell("mkdir " + Path("links") + " && ln -s ../old.png " + Path("links/out.png"));
    run = Render("--input noise.png --output links/out.png");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_EQ(MaxDifference(Read("old.png"), noise), 0.0f);
    ASSERT_EQ(lstat(Path("links/out.png").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A disk that refuses the write (a file-size limit stands in for a full one) leaves the old
    // picture as it was, byte for byte, and no temporary anywhere.
    const std::string old_png = BytesOf(Path("old.png"));
    ASSERT_GT(old_png.size(), 16u * 1024);
    run = Shell("cd '" + dir_ + "' && bash -c \"trap '' XFSZ; ulimit -f 16; exec " + kVexorant +
                " render --input noise.png --set Rotate=10 --output links/out.png\"");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("cannot write links/out.png: File too large"), std::string::npos)
        << run.output;
    EXPECT_TRUE(BytesOf(Path("old.png")) == old_png) << "the old picture changed";
    EXPECT_EQ(Shell("find " + dir_ + " -name '.vexorant-*'").output, "");
}

TEST_F(CliRenderTest, MapOriginSettingsAndSequences) {
    for (int f = 1; f <= 3; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "take#2/in.%04d.png", f);
        Write(name, Straight(32, 16, 8));
    }
    // Only the file name's frame field counts: not the folder's #, not the % of "%done".
    Write("take#2/50%done.png",
          Fill(32, 16, 8, [](A_long, A_long, float* p) { p[0] = p[1] = 1.0f; }));
    const ShellResult run =
        Render("--input '" + Path("take#2/in.%04d.png") + "' --map '" + Path("take#2/50%done.png") +
               "' --map-origin -12,-4 --set Channel=Red --set \"Translate X=10\" --frames 1-3" +
               " --threads 2 --output '" + Path("take#2/out.####.png") + "'");
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_NE(run.output.find("rendered 3 frame(s)"), std::string::npos) << run.output;
    for (const char* name : {"out.0001.png", "out.0002.png", "out.0003.png"}) {
        EXPECT_TRUE(Exists(Path(std::string("take#2/") + name))) << name;
    }
    // The map, moved 12 pixels left, covers columns 0..19: their pixels moved 3 to the right.
    const World in = Read("take#2/in.0002.png"), out = Read("take#2/out.0002.png");
    EXPECT_EQ(GetChannel(out, 10, 5, 2), GetChannel(in, 7, 5, 2));
    EXPECT_EQ(GetChannel(out, 25, 5, 2), GetChannel(in, 25, 5, 2));

    // An 8-bit input with a 16-bit map renders at 32 bits, with the map as deep as it is
    // (halfway between bytes here, where 8 bits would move a pixel by over a column), and comes out
    // 8-bit as the input is.
    Write("in8.png", Straight(64, 8, 8));
    const World map16 = Fill(64, 8, 32, [](A_long x, A_long, float* p) {
        p[0] = 1.0f, p[1] = p[2] = p[3] = float(2 * x + 1) / 510;
    });
    std::string error;
    ASSERT_TRUE(WriteImage(Path("map16.png"), map16, SampleFormat::kUint16, &error)) << error;
    const std::string shift =
        "--input in8.png --map map16.png --set Channel=Red --set \"Translate X=1000\" "
        "--set \"Edge Behavior=Repeat\"";
    ShellResult deep = Render(shift + " --output deep.png");
    ASSERT_EQ(deep.status, 0) << deep.output;
    deep = Render(shift + " --depth 32 --output-samples uint8 --output full.png");
    ASSERT_EQ(deep.status, 0) << deep.output;
    EXPECT_TRUE(BytesOf(Path("deep.png")) == BytesOf(Path("full.png")));
    SampleFormat stored = SampleFormat::kFloat;
    Read("deep.png", 0, &stored);
    EXPECT_EQ(stored, SampleFormat::kUint8);

    // A region is the same pixels as the whole frame has there; past the right edge it ends.
    const ShellResult part =
        Render("--input '" + Path("take#2/in.0002.png") + "' --map '" + Path("take#2/50%done.png") +
               "' --map-origin -12,-4 --set Channel=Red --set \"Translate "
               "X=10\" --region 6,3,40,9 --output " +
               Path("part.png"));
    ASSERT_EQ(part.status, 0) << part.output;
    const World region = Read("part.png");
    ASSERT_EQ(region.def.width, 26);
    ASSERT_EQ(region.def.height, 6);
    for (A_long y = 0; y < 6; ++y) {
        for (A_long x = 0; x < 26; ++x) {
            for (int c = 0; c < 4; ++c) {
                ASSERT_EQ(GetChannel(region, x, y, c), GetChannel(out, x + 6, y + 3, c));
            }
        }
    }
}

TEST_F(CliRenderTest, AKeyframedRenderIsItsFramesRenderedWithTheirValuesAsConstants) {
    // At a fractional rate, with the map sequence numbered from 10: an effect that checks out
    // its controls or its map at any other time than the frame's renders other pictures.
    Write("in.png", Straight(40, 30, 8));
    for (int f = 0; f < 4; ++f) {
        Write("map." + std::to_string(10 + f) + ".png",
              Fill(40, 30, 8, [f](A_long x, A_long, float* p) {
                  p[0] = 1.0f, p[1] = p[2] = p[3] = float((x * (f + 1)) % 40) / 40.0f;
              }));
    }
    const ShellResult run = Render(
        "--input in.png --map map.%d.png --map-offset 10 --fps 30000/1001 --frames 0-3"
        " --set \"Translate X=0@0,30@3\" --set Rotate=10@1,-80@4 --set Channel=Red@0,Blue@2"
        " --output out.#.png");
    ASSERT_EQ(run.status, 0) << run.output;
    const char* const constants[] = {
        "--set \"Translate X=0\" --set Rotate=10 --set Channel=Red",
        "--set \"Translate X=10\" --set Rotate=10 --set Channel=Red",
        "--set \"Translate X=20\" --set Rotate=-20 --set Channel=Blue",
        "--set \"Translate X=30\" --set Rotate=-50 --set Channel=Blue"};
    for (int f = 0; f < 4; ++f) {
        SCOPED_TRACE(f);
        const std::string frame = std::to_string(f);
        const ShellResult one = Render("--input in.png --map map." + std::to_string(10 + f) +
                                       ".png " + constants[f] + " --output one." + frame + ".png");
        ASSERT_EQ(one.status, 0) << one.output;
        EXPECT_EQ(MaxDifference(Read("out." + frame + ".png"), Read("one." + frame + ".png")), 0);
    }
    EXPECT_GT(MaxDifference(Read("out.0.png"), Read("out.1.png")), 0) << "nothing animated";
}

TEST_F(CliRenderTest, ErrorsNameTheCauseAndLeaveNoOutput) {
    Write("in.png", Straight(8, 8, 8));
    Write("in.0001.png", Straight(8, 8, 8));
    Write("in.0003.png", Straight(8, 8, 8));
    Shell("mkdir " + Path("folder.png"));
    // The module under a name an image writer takes, a pipe, another name of the input, and a
    // header that claims a row of 3.2 GB at 32 bits.
    Shell("cp '" + std::string(VEXO_MODULE_PATH) + "' " + Path("module.png") + " && mkfifo " +
          Path("pipe") + " && ln " + Path("in.png") + " " + Path("link.png"));
    std::ofstream(Path("wide.ppm"), std::ios::binary) << "P6\n200000000 1\n255\nabc";
    {  // a PNG cut short: libpng gives up inside the pixel data
        std::ifstream in(Path("in.png"), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        std::ofstream(Path("damaged.png"), std::ios::binary) << bytes.substr(0, bytes.size() - 30);
    }
    const std::string in = " --input " + Path("in.png");
    struct Case {
        std::string options;
        int status;
        std::string message;
    } cases[] = {
        {"--input " + Path("missing.png") + " --output " + Path("out.png"), 1,
         "cannot read " + Path("missing.png")},
        {in + " --output " + Path("out.png") + " --depth 16", 2, "--depth is 8 or 32"},
        {in + " --output " + Path("out.png") + " --output-samples 16", 2,
         "--output-samples is uint8, uint16, half or float"},
        {"--input " + Path("in.####.png") + " --output " + Path("out.png"), 2, "needs --frames"},
        {in + " --output " + Path("out.png") + " --set Bogus=1", 2, "Bogus"},
        {in + " --output " + Path("out.png") + " --set \"Edge Behavior=(-\"", 2, "Edge Behavior"},
        {in, 2, "needs --input and --output"},
        // Integers beyond the host's 32 bits are refused, not wrapped.
        {in + " --output " + Path("out.png") + " --map " + Path("in.png") +
             " --map-origin 99999999999,0",
         2, "--map-origin takes X,Y in whole pixels from -2147483648 to 2147483647"},
        {"--input " + Path("in.####.png") + " --frames 1-4294967297 --output " +
             Path("out.####.png"),
         2, "--frames takes A-B"},
        {"--input " + Path("in.%99999999999d.png") + " --frames 1-1 --output " + Path("out.png"), 2,
         "asks for more than 18 digits"},
        {in + " --output " + Path("out.png") + " --region 4,4,2,6", 2,
         "--region takes L,T,R,B in whole pixels with L < R and T < B, not '4,4,2,6'"},
        {in + " --output " + Path("out.png") + " --region 8,0,12,4", 1,
         "the region 8,0,12,4 lies outside the input's 8 x 8 pixels"},
        // Write failures name the user's path and the cause, found before any frame renders.
        {in + " --output " + Path("no/such/dir/out.png"), 1,
         "cannot write " + Path("no/such/dir/out.png") + ": folder '" + Path("no/such/dir") +
             "' does not exist"},
        {in + " --output " + Path("folder.png"), 1,
         "cannot write " + Path("folder.png") + ": it is a folder"},
        {in + " --output " + Path("in.png/out.png"), 1, "'" + Path("in.png") + "' is not a folder"},
        {in + " --output " + Path("out.xyz"), 1, "no image format known for '.xyz'"},
        // Every frame's sources are there before the first render.
        {"--input " + Path("in.####.png") + " --frames 1-3 --output " + Path("out.####.png"), 1,
         "cannot read " + Path("in.####.png") + ": frame 2 is missing (" + Path("in.0002.png") +
             ")"},
        {"--input " + Path("damaged.png") + " --output " + Path("out.png"), 1,
         "cannot read " + Path("damaged.png") + ": "},
        // A name is scanned, not matched by a pattern that recurses once per character.
        {"--input " + Path(std::string(40000, 'a')) + ".png --output " + Path("out.png"), 1,
         "cannot read " + Path("aaaa")},
        // A module path is a path: the file checked is the file loaded, and only a file is read.
        {in + " --module module.png --set Bogus=1 --output " + Path("out.png"), 2, "Bogus"},
        {in + " --module /dev/zero --output " + Path("out.png"), 1,
         "cannot open /dev/zero: not a regular file"},
        {in + " --module " + Path("pipe") + " --output " + Path("out.png"), 1,
         "cannot open " + Path("pipe") + ": not a regular file"},
        // Counted in 64 bits, and refused before a single file is looked at.
        {"--input " + Path("in.####.png") + " --frames 0-2147483647 --output " +
             Path("out.####.png"),
         2, "is 2147483648 frames; one render takes at most 1000000"},
        {in + " --downsample 1e-320 --output " + Path("out.png"), 2,
         "--downsample takes a factor from 0.01 to 1"},
        {"--input " + Path("wide.ppm") + " --depth 32 --output " + Path("out.png"), 1,
         "cannot read " + Path("wide.ppm") + ": too wide at 32 bits per channel"},
        // The output may not be a file the render reads, under any of its names.
        {in + " --output " + Path("in.png"), 1,
         "cannot write " + Path("in.png") + ": it is the input " + Path("in.png")},
        {in + " --output " + Path("link.png"), 1,
         "cannot write " + Path("link.png") + ": it is the input " + Path("in.png")},
        {in + " --map " + Path("in.0001.png") + " --output " + Path("in.0001.png"), 1,
         "it is the map " + Path("in.0001.png")},
        {in + " --module module.png --output module.png", 1,
         "cannot write module.png: it is the effect module"},
        {in + " --set Rotate=5@3,6@1 --output " + Path("out.png"), 2, "out of order"},
        {in + " --fps 30/0 --output " + Path("out.png"), 2, "--fps takes a whole number"},
        {"--input " + Path("in.####.png") + " --frames 2147000-2147003 --fps 30000/1001 --output " +
             Path("out.####.png"),
         2, "lies past the last time the host can give"},
        // The map frames a render needs are there before the first, numbered as the files are.
        {in + " --map " + Path("in.####.png") + " --map-offset -2 --frames 3-5 --output " +
             Path("out.####.png"),
         1, "frame 2 is missing (" + Path("in.0002.png") + ")"},
    };
    const std::string input_bytes = BytesOf(Path("in.png"));
    const std::string module_bytes = BytesOf(VEXO_MODULE_PATH);
    for (const Case& c : cases) {
        const ShellResult run = Render(c.options);
        EXPECT_EQ(run.status, c.status) << c.options << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << c.options << "\n" << run.output;
        // Ours is the first word, not an image library's, and no hidden temporary name shows.
        EXPECT_EQ(run.output.rfind("vexorant: ", 0), 0u) << c.options << "\n" << run.output;
        EXPECT_EQ(run.output.find(".vexorant-"), std::string::npos) << c.options << "\n"
                                                                    << run.output;
        EXPECT_EQ(Shell("ls -A " + dir_ + " | grep ^out").output, "") << c.options;
        Shell("rm -rf " + dir_ + "out*");  // each case on its own
    }
    EXPECT_EQ(BytesOf(Path("in.png")), input_bytes);
    EXPECT_EQ(BytesOf(Path("in.0001.png")), input_bytes);
    EXPECT_EQ(BytesOf(Path("module.png")), module_bytes);
}

TEST_F(CliRenderTest, ARefusedFrameReportsTheHostErrorAndWritesNothing) {
    // Wider than any GL context holds, even a 32768-pixel one, and read whole: the limit is
    // named, not memory.
    Write("wide.png", Straight(32769, 2, 8));
    const ShellResult run = Render("--input " + Path("wide.png") + " --output " + Path("out.png"));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("the part of the input this frame reads (32769 x 2 pixels) is larger "
                              "than this GPU's "),
              std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("-pixel texture limit (host error 4)"), std::string::npos)
        << run.output;
    EXPECT_FALSE(Exists(Path("out.png")));
    EXPECT_EQ(Shell("ls -A " + dir_).output, "wide.png\n");  // no temporary left behind
}

TEST_F(CliRenderTest, AFullDiskFailsTheRenderForWritersThatWriteByName) {
    // These writers take a file name, not memory, and carry on past a write the disk refuses:
    // the file they leave has holes where rows should be.
    if (geteuid() != 0) GTEST_SKIP() << "mounting a small disk needs root";
    const std::string disk = Path("disk");
    Shell("mkdir " + disk);
    if (Shell("mount -t tmpfs -o size=200k tmpfs " + disk).status != 0) {
        GTEST_SKIP() << "cannot mount a tmpfs here";
    }
    struct Unmount {
        std::string at;
        ~Unmount() { Shell("umount " + at); }
    } unmount{disk};
    Write("in.png", Straight(200, 100, 8));
    for (const std::string ext : {"sgi", "fits"}) {
        SCOPED_TRACE(ext);
        Write("disk/o." + ext, Straight(20, 10, 8));
        const std::string old = BytesOf(Path("disk/o." + ext));
        Shell("dd if=/dev/zero of=" + disk + "/fill bs=4k");  // until the disk is full
        const ShellResult run = Render("--input in.png --set Rotate=10 --output disk/o." + ext);
        EXPECT_EQ(run.status, 1) << run.output;
        const std::string format = ext == "sgi" ? "SGI" : "FITS";
        EXPECT_NE(run.output.find("cannot write disk/o." + ext + ": the " + format + " writer "),
                  std::string::npos)
            << run.output;
        EXPECT_NE(run.output.find("No space left on device"), std::string::npos) << run.output;
        EXPECT_TRUE(BytesOf(Path("disk/o." + ext)) == old) << "the old picture changed";
        EXPECT_EQ(Shell("ls -A " + disk + " | grep -v fill").output, "o." + ext + "\n");
        Shell("rm -f " + disk + "/*");
    }
}

TEST_F(CliRenderTest, AnotherTasksTemporaryIsNeverTouched) {
    // Farm tasks on other machines, whose process ids repeat ours, write into the same folder:
    // a file already at a name this process could pick is theirs. Process id and the writer's
    // address made the name before: a file at that name stands for one of theirs.
    const World frame = Straight(16, 8, 8);
    const std::string theirs =
        Path(".vexorant-" + std::to_string(getpid()) + "-" +
             std::to_string(reinterpret_cast<std::uintptr_t>(&frame)) + ".sgi");
    std::ofstream(theirs, std::ios::binary) << "another task's frame";
    std::string error;
    ASSERT_TRUE(WriteImage(Path("out.sgi"), frame, &error)) << error;
    EXPECT_EQ(MaxDifference(Read("out.sgi"), frame), 0.0f);
    EXPECT_EQ(BytesOf(theirs), "another task's frame");
}

TEST_F(CliRenderTest, AReadOnlyOutputIsRefusedBeforeAnyFrameRenders) {
    // Root writes over read-only files, as cp does; a user who cannot write a file may still
    // rename over it in a folder of theirs, which must not happen.
    if (geteuid() != 0) GTEST_SKIP() << "switching to an unprivileged user needs root";
    const std::string as_nobody = "setpriv --reuid=nobody --regid=nogroup --clear-groups ";
    if (Shell(as_nobody + "test -x " + kVexorant + " -a -r " + VEXO_MODULE_PATH).status != 0) {
        GTEST_SKIP() << "nobody cannot run " << kVexorant;
    }
    Write("in.png", Straight(8, 8, 8));
    Write("out.2.png", Straight(4, 4, 8));
    Shell("chown -R nobody " + dir_ + " && chmod 444 " + Path("out.2.png"));
    const std::string old = BytesOf(Path("out.2.png"));
    const ShellResult run = Shell("cd '" + dir_ + "' && " + as_nobody + kVexorant +
                                  " render --input in.png --frames 1-2 --output out.#.png");
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_NE(run.output.find("cannot write out.2.png: the file is read-only"), std::string::npos)
        << run.output;
    EXPECT_FALSE(Exists(Path("out.1.png"))) << "a frame rendered before the refusal";
    EXPECT_TRUE(BytesOf(Path("out.2.png")) == old);
    struct stat st;
    ASSERT_EQ(stat(Path("out.2.png").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0444u);
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
