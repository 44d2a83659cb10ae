// The plug-in property list the host reads before it runs any code of the module, built at
// compile time from the effect's own constants.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "effect/VexorantPro.h"

namespace vexo {

constexpr std::size_t kPiPLSize = 290;
using PiPLBytes = std::array<uint8_t, kPiPLSize>;

// The macOS copy, the bundle's resource 'PiPL' 16000: the same values, big-endian as the
// platform's resource compiler writes them, with a code entry for each of the bundle's two
// architectures (Intel, Apple silicon) in place of the Windows one.
constexpr std::size_t kMacPiPLSize = 318;
using MacPiPLBytes = std::array<uint8_t, kMacPiPLSize>;
constexpr uint32_t kMacResourceId = 16000;

namespace pipl_detail {

constexpr uint32_t FourCC(const char (&code)[5]) {
    return (uint32_t(uint8_t(code[0])) << 24) | (uint32_t(uint8_t(code[1])) << 16) |
           (uint32_t(uint8_t(code[2])) << 8) | uint32_t(uint8_t(code[3]));
}

constexpr std::size_t Length(const char* text) {
    std::size_t n = 0;
    while (text[n]) ++n;
    return n;
}

// Numbers little-endian (Windows) or big-endian (macOS); a four-character code is a number, so
// it reads backwards in the first and in order in the second.
template <std::size_t N>
struct Writer {
    std::array<uint8_t, N> bytes{};
    std::size_t at = 0;
    bool big_endian = false;

    constexpr void U8(uint8_t v) { bytes[at++] = v; }
    constexpr void U16(uint16_t v) {
        U8(uint8_t(big_endian ? v >> 8 : v));
        U8(uint8_t(big_endian ? v : v >> 8));
    }
    constexpr void U32(uint32_t v) {
        U16(uint16_t(big_endian ? v >> 16 : v));
        U16(uint16_t(big_endian ? v : v >> 16));
    }
    // Header of one property; the value that follows is padded to `stored` bytes, then to a
    // multiple of four.
    constexpr void Property(uint32_t key, uint32_t stored) {
        U32(FourCC("8BIM"));
        U32(key);
        U32(0);
        U32(stored);
    }
    constexpr void PadTo(std::size_t start, std::size_t stored) {
        const std::size_t end = start + ((stored + 3) & ~std::size_t(3));
        while (at < end) U8(0);
    }
    constexpr void PascalString(uint32_t key, const char* text, std::size_t stored) {
        Property(key, uint32_t(stored));
        const std::size_t start = at;
        const std::size_t n = Length(text);
        U8(uint8_t(n));
        for (std::size_t i = 0; i < n; ++i) U8(uint8_t(text[i]));
        PadTo(start, stored);
    }
    constexpr void CString(uint32_t key, const char* text, std::size_t stored) {
        Property(key, uint32_t(stored));
        const std::size_t start = at;
        for (std::size_t i = 0, n = Length(text); i < n; ++i) U8(uint8_t(text[i]));
        PadTo(start, stored);
    }
    constexpr void Word(uint32_t key, uint32_t value) {
        Property(key, 4);
        U32(value);
    }
    constexpr void TwoShorts(uint32_t key, uint16_t first, uint16_t second) {
        Property(key, 4);
        U16(first);
        U16(second);
    }
};

template <std::size_t N>
constexpr std::array<uint8_t, N> Build(bool mac) {
    Writer<N> w;
    w.big_endian = mac;
    w.U16(1);              // list version
    w.U32(0);              // reserved
    w.U32(mac ? 13 : 12);  // property count
    w.Word(FourCC("kind"), FourCC("eFKT"));
    w.PascalString(FourCC("name"), kEffectName, 16);
    w.PascalString(FourCC("catg"), kCategory, 20);
    if (mac) {
        w.CString(FourCC("mi64"), kEntryPointName, 12);
        w.CString(FourCC("ma64"), kEntryPointName, 12);
    } else {
        w.CString(FourCC("8664"), kEntryPointName, 12);
    }
    w.TwoShorts(FourCC("ePVR"), 2, 0);
    w.TwoShorts(FourCC("eSVR"), 13, 25);
    w.Word(FourCC("eVER"), kVersion);
    w.Property(FourCC("eINF"), 2);
    w.U16(0);
    w.U16(0);  // padding to four bytes
    w.Word(FourCC("eGLO"), kOutFlags);
    w.Word(FourCC("eGL2"), kOutFlags2);
    w.PascalString(FourCC("eMNA"), kMatchName, 8);
    w.Word(FourCC("aeFL"), 0);
    // An overlong string or a miscounted layout fails here, at compile time.
    if (w.at != N) throw "property list size";
    return w.bytes;
}

}  // namespace pipl_detail

constexpr PiPLBytes BuildPiPL() { return pipl_detail::Build<kPiPLSize>(false); }
constexpr MacPiPLBytes BuildMacPiPL() { return pipl_detail::Build<kMacPiPLSize>(true); }

constexpr PiPLBytes kPiPL = BuildPiPL();
constexpr MacPiPLBytes kMacPiPL = BuildMacPiPL();

}  // namespace vexo
