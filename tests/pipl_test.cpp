// The property list: its bytes, where the module carries them, and how the host reads them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "effect/pipl.h"
#include "standalone/pipl_reader.h"

namespace {

using vexo_host::ParseMacPiPL;
using vexo_host::ParsePiPL;
using vexo_host::PiPLInfo;
using vexo_host::PiPLProperty;
using vexo_host::ReadModulePiPL;
using vexo_host::ReadResourceFilePiPL;
using Bytes = std::vector<uint8_t>;

// Laid out by hand: four-character codes are stored as little-endian words, so their text runs
// backwards in the file.
Bytes ExpectedPiPL() {
    const std::string z4("\0\0\0\0", 4);
    auto prop = [&](const char* key, const std::string& length, const std::string& value) {
        return std::string("MIB8") + key + z4 + length + value;
    };
    std::string s = std::string("\x01\x00", 2) + z4 + std::string("\x0c\0\0\0", 4);
    s += prop("dnik", std::string("\x04\0\0\0", 4), "TKFe");
    s += prop("eman", std::string("\x10\0\0\0", 4), std::string("\x0cVexorant Pro\0\0\0", 16));
    s += prop("gtac", std::string("\x14\0\0\0", 4), "\x08Vexorant" + std::string(11, '\0'));
    s += prop("4668", std::string("\x0c\0\0\0", 4), std::string("EffectMain\0\0", 12));
    s += prop("RVPe", std::string("\x04\0\0\0", 4), std::string("\x02\0\0\0", 4));
    s += prop("RVSe", std::string("\x04\0\0\0", 4), std::string("\x0d\0\x19\0", 4));
    s += prop("REVe", std::string("\x04\0\0\0", 4), std::string("\x01\x80\x08\0", 4));
    s += prop("FNIe", std::string("\x02\0\0\0", 4), z4);
    s += prop("OLGe", std::string("\x04\0\0\0", 4), std::string("\0\0\0\x04", 4));
    s += prop("2LGe", std::string("\x04\0\0\0", 4), std::string("\x08\x14\0\x08", 4));
    s += prop("ANMe", std::string("\x08\0\0\0", 4), std::string("\x04QVXR\0\0\0", 8));
    s += prop("LFea", std::string("\x04\0\0\0", 4), z4);
    return Bytes(s.begin(), s.end());
}

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(PiPL, BytesMatchTheHandWrittenLayout) {
    const Bytes expected = ExpectedPiPL();
    ASSERT_EQ(expected.size(), 290u);
    EXPECT_EQ(Bytes(vexo::kPiPL.begin(), vexo::kPiPL.end()), expected);
}

TEST(PiPL, TheModuleFileCarriesTheSameBytes) {
    Bytes bytes;
    std::string error;
    ASSERT_TRUE(ReadModulePiPL(VEXO_MODULE_PATH, &bytes, &error)) << error;
    EXPECT_EQ(bytes, ExpectedPiPL());

    PiPLInfo info;
    ASSERT_TRUE(ParsePiPL(bytes, &info, &error)) << error;
    EXPECT_EQ(info.kind, "eFKT");
    EXPECT_EQ(info.name, "Vexorant Pro");
    EXPECT_EQ(info.entry_point, "EffectMain");
    EXPECT_EQ(info.match_name, "QVXR");
    EXPECT_EQ(info.effect_version, vexo::kVersion);
    EXPECT_EQ(info.out_flags, vexo::kOutFlags);
    EXPECT_EQ(info.out_flags2, vexo::kOutFlags2);
    EXPECT_EQ(info.api_version[0], 13);
    EXPECT_EQ(info.api_version[1], 25);
}

TEST(PiPL, ResourceGeneratorWritesTheSameBytes) {
    const std::string bin = ::testing::TempDir() + "pipl_gen.bin";
    const std::string rc = ::testing::TempDir() + "pipl_gen.rc";
    const std::string cmd = std::string(VEXO_PIPL_GEN_PATH) + " " + bin + " " + rc;
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(ReadFile(bin), ExpectedPiPL());
    const Bytes script = ReadFile(rc);
    const std::string text(script.begin(), script.end());
    EXPECT_NE(text.find("LANGUAGE 9, 1"), std::string::npos);  // US English, 1033
    EXPECT_NE(text.find("16000 PIPL"), std::string::npos);
}

TEST(PiPL, MalformedListsAreRefusedWithAReason) {
    const Bytes good = ExpectedPiPL();
    PiPLInfo info;
    std::string error;
    ASSERT_TRUE(ParsePiPL(good, &info, &error)) << error;

    struct Case {
        const char* what;
        Bytes bytes;
        const char* reason;
    };
    auto patched = [&](std::size_t at, uint8_t value, std::size_t count = 1) {
        Bytes b = good;
        for (std::size_t i = 0; i < count; ++i) b[at + i] = value;
        return b;
    };
    const Case cases[] = {
        {"empty", {}, "too short"},
        {"cut inside a header", Bytes(good.begin(), good.begin() + 100), "cut short"},
        {"cut inside a value", Bytes(good.begin(), good.begin() + 120), "past the end"},
        {"property count too high", patched(6, 13), "cut short"},
        {"property count too low", patched(6, 11), "trailing bytes"},
        {"wrong vendor", patched(10, 'X'), "vendor"},
        {"not an effect", patched(26, 'X'), "not an effect"},
        {"huge length", patched(25, 0x7F), "past the end"},
        {"list version", patched(0, 2), "version"},
        {"unterminated entry point", patched(124, 'x', 2), "malformed"},
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(ParsePiPL(c.bytes, &info, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

TEST(PiPL, FilesWithoutAPropertyListAreRefused) {
    Bytes bytes;
    std::string error;
    EXPECT_FALSE(ReadModulePiPL("/nonexistent/VexorantPro.so", &bytes, &error));
    EXPECT_NE(error.find("cannot open"), std::string::npos);

    const std::string text_file = ::testing::TempDir() + "not_a_module.so";
    std::ofstream(text_file) << "hello";
    EXPECT_FALSE(ReadModulePiPL(text_file, &bytes, &error));
    EXPECT_NE(error.find("is not an ELF module"), std::string::npos);

    // A real ELF file without the section: the test program itself.
    EXPECT_FALSE(ReadModulePiPL("/proc/self/exe", &bytes, &error));
    EXPECT_NE(error.find("no property list"), std::string::npos);

    // A module cut short: the section table points past the end.
    Bytes module = ReadFile(VEXO_MODULE_PATH);
    module.resize(module.size() / 2);
    const std::string cut = ::testing::TempDir() + "cut_module.so";
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(module.data()), std::streamsize(module.size()));
    EXPECT_FALSE(ReadModulePiPL(cut, &bytes, &error));
    EXPECT_NE(error.find("malformed"), std::string::npos) << error;
}

bool IsCodeEntry(const PiPLProperty& p) {
    const std::string key = vexo_host::FourCCText(p.key);
    return key == "8664" || key == "mi64" || key == "ma64";
}

// The macOS bundle's resource file as the build writes it: its layout checked by hand, and its
// property list against the Windows one, property by property.
TEST(PiPL, MacResourceFileCarriesTheWindowsValuesBigEndian) {
    const Bytes file = ReadFile(VEXO_PIPL_RSRC_PATH);
    ASSERT_EQ(file.size(), 628u);
    const auto be16 = [&](std::size_t at) { return unsigned(file[at] << 8 | file[at + 1]); };
    const auto be32 = [&](std::size_t at) { return be16(at) << 16 | be16(at + 2); };
    EXPECT_EQ(be32(0), 256u);  // data
    EXPECT_EQ(be32(4), 578u);  // map
    EXPECT_EQ(be32(8), 322u);  // data length: the resource's length, then its 318 bytes
    EXPECT_EQ(be32(12), 50u);  // map length
    EXPECT_EQ(be32(256), 318u);
    const std::size_t map = 578;
    EXPECT_EQ(Bytes(file.begin() + map, file.begin() + map + 16),
              Bytes(file.begin(), file.begin() + 16));
    EXPECT_EQ(be16(map + 24), 28u);  // type list
    EXPECT_EQ(be16(map + 26), 50u);  // name list, empty
    EXPECT_EQ(be16(map + 28), 0u);   // one type
    EXPECT_EQ(std::string(file.begin() + map + 30, file.begin() + map + 34), "PiPL");
    EXPECT_EQ(be16(map + 34), 0u);       // one resource of it
    EXPECT_EQ(be16(map + 36), 10u);      // its reference list, from the type list
    EXPECT_EQ(be16(map + 38), 16000u);   // id
    EXPECT_EQ(be16(map + 40), 0xFFFFu);  // no name
    EXPECT_EQ(be32(map + 42), 0u);       // no attributes; data at the start

    Bytes mac;
    std::string error;
    ASSERT_TRUE(ReadResourceFilePiPL(file, &mac, &error)) << error;
    ASSERT_EQ(mac.size(), 318u);
    // Numbers most significant byte first, four-character codes in reading order.
    EXPECT_EQ(std::string(mac.begin(), mac.begin() + 18),
              std::string("\0\x01\0\0\0\0\0\0\0\x0d", 10) + "8BIMkind");

    PiPLInfo windows, macos;
    ASSERT_TRUE(ParsePiPL(ExpectedPiPL(), &windows, &error)) << error;
    ASSERT_TRUE(ParseMacPiPL(mac, &macos, &error)) << error;
    std::vector<const PiPLProperty*> w, m;
    for (const PiPLProperty& p : windows.properties)
        if (!IsCodeEntry(p)) w.push_back(&p);
    for (const PiPLProperty& p : macos.properties)
        if (!IsCodeEntry(p)) m.push_back(&p);
    ASSERT_EQ(w.size(), 11u);
    ASSERT_EQ(m.size(), w.size());
    for (std::size_t i = 0; i < w.size(); ++i) {
        const std::string key = vexo_host::FourCCText(w[i]->key);
        EXPECT_EQ(m[i]->key, w[i]->key) << i;
        EXPECT_EQ(m[i]->vendor, w[i]->vendor) << key;
        EXPECT_EQ(m[i]->id, w[i]->id) << key;
        // Each number of the value reversed, text as it is.
        const std::size_t width = key == "name" || key == "catg" || key == "eMNA"   ? 1
                                  : key == "ePVR" || key == "eSVR" || key == "eINF" ? 2
                                                                                    : 4;
        Bytes reversed = w[i]->value;
        for (std::size_t at = 0; at + width <= reversed.size(); at += width)
            std::reverse(reversed.begin() + at, reversed.begin() + at + width);
        EXPECT_EQ(m[i]->value, reversed) << key;
    }
    EXPECT_EQ(macos.kind, windows.kind);
    EXPECT_EQ(macos.name, windows.name);
    EXPECT_EQ(macos.category, windows.category);
    EXPECT_EQ(macos.match_name, windows.match_name);
    EXPECT_EQ(macos.effect_version, windows.effect_version);
    EXPECT_EQ(macos.out_flags, windows.out_flags);
    EXPECT_EQ(macos.out_flags2, windows.out_flags2);
    EXPECT_EQ(macos.api_version[0], 13);
    EXPECT_EQ(macos.api_version[1], 25);
    EXPECT_EQ(macos.pipl_version[0], 2);
    // Intel and Apple silicon, both into the one entry point, where '8664' stood.
    using Entries = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(windows.code_entries, (Entries{{"8664", "EffectMain"}}));
    EXPECT_EQ(macos.code_entries, (Entries{{"mi64", "EffectMain"}, {"ma64", "EffectMain"}}));
    EXPECT_EQ(vexo_host::FourCCText(macos.properties[3].key), "mi64");
    EXPECT_EQ(vexo_host::FourCCText(macos.properties[4].key), "ma64");
}

TEST(PiPL, MalformedResourceFilesAreRefusedWithAReason) {
    const Bytes good = ReadFile(VEXO_PIPL_RSRC_PATH);
    Bytes bytes;
    std::string error;
    ASSERT_TRUE(ReadResourceFilePiPL(good, &bytes, &error)) << error;

    const std::size_t map = 578;
    auto patched = [&](std::size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    struct Case {
        const char* what;
        Bytes bytes;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", {}, "too short"},
        {"cut inside the map", Bytes(good.begin(), good.end() - 1), "outside the file"},
        {"map offset past the end", patched(4, 0x7F), "outside the file"},
        {"type list outside the map", patched(map + 24, 0x7F), "type list lies outside"},
        {"another type", patched(map + 30, 'X'), "no 'PiPL' resources"},
        {"reference list outside the map", patched(map + 37, 0x7F), "reference list"},
        {"another id", patched(map + 39, 0x81), "no 'PiPL' resource 16000"},
        {"data offset outside the data", patched(map + 43, 0x7F), "outside the resource data"},
        {"length past the data", patched(257, 0x7F), "runs past"},
    };
    for (const Case& c : cases) {
        error.clear();
        EXPECT_FALSE(ReadResourceFilePiPL(c.bytes, &bytes, &error)) << c.what;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
    }
}

}  // namespace
