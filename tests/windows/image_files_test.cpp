// The Windows host's image files (stb and PFM, no OpenImageIO), on a Windows file system: exact
// round trips, replacing an existing output, and files that lie about their size.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "standalone/image_io.h"

namespace {

using vexo_host::World;

class ImageFiles : public testing::Test {
  protected:
    void SetUp() override {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        dir_ = std::string(base) + "vexo_image_files_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(dir_.c_str(), nullptr);
    }
    void TearDown() override {
        for (const std::string& name : Listing()) DeleteFileA(Path(name).c_str());
        RemoveDirectoryA(dir_.c_str());
    }

    std::string Path(const std::string& name) const { return dir_ + "\\" + name; }

    std::vector<std::string> Listing() const {
        std::vector<std::string> names;
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA(Path("*").c_str(), &found);
        if (search == INVALID_HANDLE_VALUE) return names;
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..") names.push_back(name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
        return names;
    }

    void WriteBytes(const std::string& name, const std::string& bytes) const {
        FILE* f = std::fopen(Path(name).c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }

    std::string dir_;
};

// Every channel different, alpha included, and floats beyond 0..1 at 32 bits.
World Pattern(A_long w, A_long h, int depth, float shift = 0) {
    World world = vexo_host::MakeWorld(w, h, depth);
    for (A_long y = 0; y < h; ++y) {
        for (A_long x = 0; x < w; ++x) {
            const float v[4] = {(x + 1.0f) / w, (y + 0.5f) / h, (x * 7 + y * 3) % 11 / 10.0f,
                                (x + y) % 5 / 4.0f};
            for (int c = 0; c < 4; ++c) {
                vexo_host::SetChannel(&world, x, y, c, depth == 32 ? v[c] * 3 - 1 + shift : v[c]);
            }
        }
    }
    return world;
}

// Largest difference over the channels, alpha only where `alpha`.
float Difference(const World& a, const World& b, bool alpha = true) {
    if (a.def.width != b.def.width || a.def.height != b.def.height) return INFINITY;
    float worst = 0;
    for (A_long y = 0; y < a.def.height; ++y) {
        for (A_long x = 0; x < a.def.width; ++x) {
            for (int c = alpha ? 0 : 1; c < 4; ++c) {
                const float d = std::fabs(vexo_host::GetChannel(a, x, y, c) -
                                          vexo_host::GetChannel(b, x, y, c));
                if (!(d <= worst)) worst = d;
            }
        }
    }
    return worst;
}

TEST_F(ImageFiles, RoundTripExactly) {
    std::string error;
    const World png = Pattern(13, 7, 8);
    ASSERT_TRUE(vexo_host::WriteImage(Path("a.png"), png, &error)) << error;
    World back;
    ASSERT_TRUE(vexo_host::ReadImage(Path("a.png"), 0, &back, &error)) << error;
    EXPECT_EQ(back.depth, 8);
    EXPECT_EQ(Difference(back, png), 0.0f);

    // PFM keeps 32-bit floats bit for bit, and has no alpha: it reads back opaque.
    const World pfm = Pattern(13, 7, 32);
    ASSERT_TRUE(vexo_host::WriteImage(Path("a.pfm"), pfm, &error)) << error;
    ASSERT_TRUE(vexo_host::ReadImage(Path("a.pfm"), 0, &back, &error)) << error;
    EXPECT_EQ(back.depth, 32);
    EXPECT_EQ(Difference(back, pfm, false), 0.0f);
    EXPECT_EQ(vexo_host::GetChannel(back, 3, 2, 0), 1.0f);

    // Row 0 is the top row in the world and the last row stored in the file.
    FILE* f = std::fopen(Path("a.pfm").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, -12 * 13, SEEK_END);
    float last_row_first_red = 0;
    ASSERT_EQ(std::fread(&last_row_first_red, 4, 1, f), 1u);
    std::fclose(f);
    EXPECT_EQ(last_row_first_red, vexo_host::GetChannel(pfm, 0, 0, 1));

    // An 8-bit file read at 32 bits, and the other way round.
    ASSERT_TRUE(vexo_host::ReadImage(Path("a.png"), 32, &back, &error)) << error;
    EXPECT_EQ(back.depth, 32);
    EXPECT_LT(Difference(back, png), 1e-6f);
    ASSERT_TRUE(vexo_host::ReadImage(Path("a.pfm"), 8, &back, &error)) << error;
    EXPECT_EQ(back.depth, 8);
}

TEST_F(ImageFiles, ReplaceAnExistingOutputAndLeaveNothingElse) {
    std::string error;
    for (const char* name : {"out.png", "out.pfm"}) {
        const int depth = std::strstr(name, ".pfm") ? 32 : 8;
        ASSERT_TRUE(vexo_host::WriteImage(Path(name), Pattern(9, 4, depth), &error)) << error;
        const World second = Pattern(9, 4, depth, 0.5f);
        ASSERT_TRUE(vexo_host::WriteImage(Path(name), second, &error)) << name << ": " << error;
        World back;
        ASSERT_TRUE(vexo_host::ReadImage(Path(name), 0, &back, &error)) << error;
        EXPECT_EQ(Difference(back, second, depth == 8), 0.0f) << name;
    }
    EXPECT_EQ(Listing(), (std::vector<std::string>{"out.pfm", "out.png"}));
}

TEST_F(ImageFiles, RefuseWhatTheyCannotWrite) {
    std::string error;
    EXPECT_FALSE(vexo_host::WriteImage(Path("out.exr"), Pattern(2, 2, 32), &error));
    EXPECT_NE(error.find("no image format known for '.exr'"), std::string::npos) << error;
    EXPECT_FALSE(vexo_host::WriteImage(Path("no\\such\\dir\\out.png"), Pattern(2, 2, 8), &error));
    EXPECT_NE(error.find("cannot write"), std::string::npos) << error;
    EXPECT_TRUE(Listing().empty());
}

TEST_F(ImageFiles, ReadOtherByteOrdersAndGrey) {
    // Big-endian (positive scale) grey PFM, two pixels, bottom row first.
    const unsigned char values[] = {0x3f, 0x80, 0, 0, 0xc0, 0x20, 0, 0};  // 1.0, -2.5
    WriteBytes("grey.pfm", std::string("Pf\n1 2\n1.0\n") +
                               std::string(reinterpret_cast<const char*>(values), sizeof values));
    World back;
    std::string error;
    ASSERT_TRUE(vexo_host::ReadImage(Path("grey.pfm"), 0, &back, &error)) << error;
    ASSERT_EQ(back.def.width, 1);
    ASSERT_EQ(back.def.height, 2);
    for (int c = 1; c < 4; ++c) {
        EXPECT_EQ(vexo_host::GetChannel(back, 0, 0, c), -2.5f);
        EXPECT_EQ(vexo_host::GetChannel(back, 0, 1, c), 1.0f);
    }
    EXPECT_EQ(vexo_host::GetChannel(back, 0, 0, 0), 1.0f);
}

TEST_F(ImageFiles, RefuseFilesThatAreNotWhatTheySay) {
    struct Case {
        const char* name;
        std::string bytes;
        const char* message;
    };
    const std::vector<Case> cases = {
        // A header that promises gigabytes over a few bytes of data must not allocate them.
        {"huge.pfm", "PF\n100000 100000\n-1.0\n" + std::string(24, '\0'), "shorter than"},
        {"short.pfm", "PF\n4 4\n-1.0\n" + std::string(4 * 4 * 12 - 1, '\0'), "shorter than"},
        // Rows of 3.2 GB at 32 bits: a host world counts its row bytes in 32 bits.
        {"wide.pfm", "PF\n200000000 1\n-1.0\n" + std::string(24, '\0'),
         "too wide at 32 bits per channel"},
        {"letters.pfm", "PF\nfour 4\n-1.0\n" + std::string(200, '\0'), "malformed PFM header"},
        {"zero_scale.pfm", "PF\n1 1\n0\n" + std::string(12, '\0'), "malformed PFM header"},
        {"negative.pfm", "PF\n-1 1\n-1.0\n" + std::string(12, '\0'), "malformed PFM header"},
        {"magic.pfm", "P6\n1 1\n255\nabc", "not a PFM file"},
        {"text.png", "not an image at all", "cannot read"},
    };
    for (const Case& c : cases) {
        WriteBytes(c.name, c.bytes);
        World world;
        std::string error;
        EXPECT_FALSE(vexo_host::ReadImage(Path(c.name), 0, &world, &error)) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
    }
    World world;
    std::string error;
    EXPECT_FALSE(vexo_host::ReadImage(Path("missing.png"), 0, &world, &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
}

}  // namespace
