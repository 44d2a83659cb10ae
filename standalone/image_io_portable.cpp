// Image files without OpenImageIO, for builds that lack it (Windows): PNG, BMP, TGA, JPEG and the
// other 8- and 16-bit formats stb reads, written as PNG, BMP, TGA or JPEG; 32-bit float as PFM
// (and Radiance HDR, read only).
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

#define STB_IMAGE_IMPLEMENTATION
#define STBI_FAILURE_USERMSG
#include <stb/stb_image.h>
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "standalone/image_io.h"
#include "standalone/output_file.h"

namespace vexo_host {

namespace {

bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

std::string Lower(std::string s) {
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
    return s;
}

std::string Extension(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    return Lower(path.substr(dot));
}

// Decoded pixels, top row first, `channels` interleaved values per pixel.
struct Decoded {
    int width = 0, height = 0, channels = 0;
    SampleFormat stored = SampleFormat::kUint8;
    std::vector<float> values;   // 0..1 for integer files
    std::vector<uint8_t> bytes;  // 8-bit files, kept exact
};

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File Open(const std::string& path, const char* mode) {
    return File(std::fopen(path.c_str(), mode), &std::fclose);
}

// A PFM header token: skips white space, reads up to the next white space.
bool Token(FILE* f, std::string* out) {
    int c;
    while ((c = std::fgetc(f)) != EOF && (c == ' ' || c == '\t' || c == '\r' || c == '\n')) {
    }
    out->clear();
    while (c != EOF && c != ' ' && c != '\t' && c != '\r' && c != '\n') {
        if (out->size() > 32) return false;
        out->push_back(char(c));
        c = std::fgetc(f);
    }
    return !out->empty() && c != EOF;  // exactly one white-space byte ends the header
}

bool ParseInt(const std::string& text, int* out) {
    if (text.empty() || text.size() > 9) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    *out = v;
    return true;
}

bool ReadPFM(const std::string& path, int depth, Decoded* d, std::string* error) {
    File f = Open(path, "rb");
    if (!f) return Fail(error, "cannot read " + path + ": " + std::strerror(errno));
    std::string magic, w, h, scale_text;
    if (!Token(f.get(), &magic) || (magic != "PF" && magic != "Pf") || !Token(f.get(), &w) ||
        !Token(f.get(), &h) || !Token(f.get(), &scale_text)) {
        return Fail(error, "cannot read " + path + ": not a PFM file");
    }
    char* end = nullptr;
    const double scale = std::strtod(scale_text.c_str(), &end);
    if (!ParseInt(w, &d->width) || !ParseInt(h, &d->height) || *end != '\0' || scale == 0 ||
        !std::isfinite(scale) || d->width <= 0 || d->height <= 0) {
        return Fail(error, "cannot read " + path + ": malformed PFM header");
    }
    d->channels = magic == "PF" ? 3 : 1;
    d->stored = SampleFormat::kFloat;
    // stb refuses sizes past 2^24 itself; a PFM header may name any.
    const std::string too_large = WorldSizeProblem(d->width, d->height, depth ? depth : 32);
    if (!too_large.empty()) return Fail(error, "cannot read " + path + ": " + too_large);
    // The header's numbers are checked against what the file holds before anything is
    // allocated for them.
    const long start = std::ftell(f.get());
    std::fseek(f.get(), 0, SEEK_END);
    const long size = std::ftell(f.get());
    std::fseek(f.get(), start, SEEK_SET);
    const uint64_t count = uint64_t(d->width) * uint64_t(d->height) * uint64_t(d->channels);
    if (start < 0 || size < start || count * 4 > uint64_t(size - start)) {
        return Fail(error,
                    "cannot read " + path + ": the file is shorter than its PFM header says");
    }
    std::vector<uint8_t> raw(std::size_t(count) * 4);
    if (std::fread(raw.data(), 1, raw.size(), f.get()) != raw.size()) {
        return Fail(error, "cannot read " + path + ": " + std::strerror(errno));
    }
    const bool little = scale < 0;
    d->values.resize(std::size_t(count));
    const std::size_t row = std::size_t(d->width) * d->channels;
    for (int y = 0; y < d->height; ++y) {
        // Rows are stored bottom first.
        const uint8_t* src = raw.data() + std::size_t(d->height - 1 - y) * row * 4;
        float* dst = d->values.data() + std::size_t(y) * row;
        for (std::size_t i = 0; i < row; ++i) {
            const uint8_t* b = src + 4 * i;
            const uint32_t bits = little ? uint32_t(b[0]) | uint32_t(b[1]) << 8 |
                                               uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24
                                         : uint32_t(b[3]) | uint32_t(b[2]) << 8 |
                                               uint32_t(b[1]) << 16 | uint32_t(b[0]) << 24;
            std::memcpy(&dst[i], &bits, sizeof bits);
        }
    }
    return true;
}

bool ReadWithStb(const std::string& path, Decoded* d, std::string* error) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return Fail(error, "cannot read " + path + ": " + std::strerror(errno));
    File owned(f, &std::fclose);
    int w = 0, h = 0, n = 0;
    if (!stbi_info_from_file(f, &w, &h, &n)) {
        return Fail(error, "cannot read " + path + ": " + stbi_failure_reason());
    }
    if (stbi_is_hdr_from_file(f)) {
        float* data = stbi_loadf_from_file(f, &w, &h, &n, 0);
        if (!data) return Fail(error, "cannot read " + path + ": " + stbi_failure_reason());
        d->values.assign(data, data + std::size_t(w) * h * n);
        stbi_image_free(data);
        d->stored = SampleFormat::kFloat;
    } else if (stbi_is_16_bit_from_file(f)) {
        stbi_us* data = stbi_load_from_file_16(f, &w, &h, &n, 0);
        if (!data) return Fail(error, "cannot read " + path + ": " + stbi_failure_reason());
        d->values.resize(std::size_t(w) * h * n);
        for (std::size_t i = 0; i < d->values.size(); ++i) {
            d->values[i] = data[i] * (1.0f / 65535.0f);
        }
        stbi_image_free(data);
        d->stored = SampleFormat::kUint16;
    } else {
        stbi_uc* data = stbi_load_from_file(f, &w, &h, &n, 0);
        if (!data) return Fail(error, "cannot read " + path + ": " + stbi_failure_reason());
        d->bytes.assign(data, data + std::size_t(w) * h * n);
        stbi_image_free(data);
    }
    d->width = w, d->height = h, d->channels = n;
    return true;
}

uint8_t ToByte(float v) {
    if (!(v > 0.0f)) return 0;  // also NaN
    return v >= 1.0f ? 255 : uint8_t(std::lround(v * 255.0f));
}

// One channel of a decoded pixel as 0..1 (or the float value). Scaled by the reciprocal, not
// divided, as OpenImageIO converts on Linux: the two differ in the last bit for about half the
// values, and a float render must see the same input on both.
float Value(const Decoded& d, std::size_t at) {
    return d.bytes.empty() ? d.values[at] : d.bytes[at] * (1.0f / 255.0f);
}

uint8_t Byte(const Decoded& d, std::size_t at) {
    return d.bytes.empty() ? ToByte(d.values[at]) : d.bytes[at];
}

// The world's pixels as red, green, blue, alpha bytes, top row first.
std::vector<uint8_t> RgbaBytes(const World& world) {
    const A_long w = world.def.width, h = world.def.height;
    std::vector<uint8_t> out(std::size_t(w) * h * 4);
    for (A_long y = 0; y < h; ++y) {
        for (A_long x = 0; x < w; ++x) {
            uint8_t* px = &out[(std::size_t(y) * w + x) * 4];
            const uint8_t* src = reinterpret_cast<const uint8_t*>(world.def.data) +
                                 std::ptrdiff_t(y) * world.def.rowbytes +
                                 std::ptrdiff_t(x) * PixelBytes(world.depth);
            if (world.depth == 32) {
                float argb[4];
                std::memcpy(argb, src, sizeof argb);
                px[0] = ToByte(argb[1]), px[1] = ToByte(argb[2]), px[2] = ToByte(argb[3]);
                px[3] = ToByte(argb[0]);
            } else {
                px[0] = src[1], px[1] = src[2], px[2] = src[3], px[3] = src[0];
            }
        }
    }
    return out;
}

// PFM holds red, green and blue only; alpha is not written.
std::vector<uint8_t> EncodePFM(const World& world) {
    const A_long w = world.def.width, h = world.def.height;
    const std::string header = "PF\n" + std::to_string(w) + " " + std::to_string(h) + "\n-1.0\n";
    std::vector<uint8_t> out(header.begin(), header.end());
    out.reserve(out.size() + std::size_t(w) * h * 12);
    for (A_long y = h - 1; y >= 0; --y) {  // bottom row first
        for (A_long x = 0; x < w; ++x) {
            for (int c = 1; c <= 3; ++c) {
                const float v = GetChannel(world, x, y, c);
                uint32_t bits;
                std::memcpy(&bits, &v, sizeof v);
                for (int b = 0; b < 4; ++b) out.push_back(uint8_t(bits >> (8 * b)));
            }
        }
    }
    return out;
}

void Append(void* context, void* data, int size) {
    auto* out = static_cast<std::vector<uint8_t>*>(context);
    const auto* bytes = static_cast<const uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
}

bool IsWritableFormat(const std::string& ext) {
    for (const char* known : {".pfm", ".png", ".bmp", ".tga", ".jpg", ".jpeg"}) {
        if (ext == known) return true;
    }
    return false;
}

std::string UnknownFormat(const std::string& path) {
    const std::string ext = Extension(path);
    return (ext.empty() ? "no extension to choose the image format by"
                        : "no image format known for '" + ext + "'") +
           std::string(" (PNG, BMP, TGA, JPEG, or PFM for 32-bit float)");
}

// The file's bytes for the format its extension names.
bool Encode(const std::string& path, const World& world, std::vector<uint8_t>* out,
            std::string* error) {
    const std::string ext = Extension(path);
    const int w = int(world.def.width), h = int(world.def.height);
    if (ext == ".pfm") {
        *out = EncodePFM(world);
        return true;
    }
    const std::vector<uint8_t> rgba = RgbaBytes(world);
    int ok = 0;
    if (ext == ".png") {
        ok = stbi_write_png_to_func(Append, out, w, h, 4, rgba.data(), w * 4);
    } else if (ext == ".bmp") {
        ok = stbi_write_bmp_to_func(Append, out, w, h, 4, rgba.data());
    } else if (ext == ".tga") {
        ok = stbi_write_tga_to_func(Append, out, w, h, 4, rgba.data());
    } else if (ext == ".jpg" || ext == ".jpeg") {
        ok = stbi_write_jpg_to_func(Append, out, w, h, 4, rgba.data(), 95);
    } else {
        return Fail(error, CannotWrite(path, UnknownFormat(path)));
    }
    return ok ? true : Fail(error, "cannot write " + path + ": cannot encode the image");
}

}  // namespace

bool ReadSampleFormat(const std::string& path, SampleFormat* format, std::string* error) {
    File f = Open(path, "rb");
    if (!f) return Fail(error, "cannot read " + path + ": " + std::strerror(errno));
    int w = 0, h = 0, n = 0;
    if (Extension(path) == ".pfm") {
        *format = SampleFormat::kFloat;  // all PFM holds; its header is checked with the pixels
    } else if (!stbi_info_from_file(f.get(), &w, &h, &n)) {
        return Fail(error, "cannot read " + path + ": " + stbi_failure_reason());
    } else {
        *format = stbi_is_hdr_from_file(f.get())      ? SampleFormat::kFloat
                  : stbi_is_16_bit_from_file(f.get()) ? SampleFormat::kUint16
                                                      : SampleFormat::kUint8;
    }
    return true;
}

bool ReadImage(const std::string& path, int depth, World* world, std::string* error,
               SampleFormat* format, bool* unnamed_alpha) {
    Decoded d;
    const bool ok =
        Extension(path) == ".pfm" ? ReadPFM(path, depth, &d, error) : ReadWithStb(path, &d, error);
    if (!ok) return false;
    if (d.width <= 0 || d.height <= 0 || d.channels <= 0) {
        return Fail(error, path + " is not a 2D image");
    }
    if (format) *format = d.stored;
    if (depth == 0) depth = d.stored == SampleFormat::kUint8 ? 8 : 32;
    const std::string too_large = WorldSizeProblem(d.width, d.height, depth);
    if (!too_large.empty()) return Fail(error, "cannot read " + path + ": " + too_large);
    const int n = d.channels;
    const int rgb[3] = {0, n > 2 ? 1 : 0, n > 2 ? 2 : 0};
    // stb hands out grey and alpha, or red, green, blue and alpha: the second of two channels
    // and the fourth of four are the file's alpha.
    const int alpha = n == 2 ? 1 : n >= 4 ? 3 : -1;
    if (unnamed_alpha) *unnamed_alpha = false;
    *world = MakeWorld(d.width, d.height, depth);
    for (A_long y = 0; y < d.height; ++y) {
        for (A_long x = 0; x < d.width; ++x) {
            const std::size_t at = (std::size_t(y) * d.width + x) * n;
            uint8_t* px = reinterpret_cast<uint8_t*>(world->def.data) +
                          std::ptrdiff_t(y) * world->def.rowbytes +
                          std::ptrdiff_t(x) * PixelBytes(depth);
            if (depth == 32) {
                const float argb[4] = {alpha >= 0 ? Value(d, at + alpha) : 1.0f,
                                       Value(d, at + rgb[0]), Value(d, at + rgb[1]),
                                       Value(d, at + rgb[2])};
                std::memcpy(px, argb, sizeof argb);
            } else {
                px[0] = alpha >= 0 ? Byte(d, at + alpha) : 255;
                for (int c = 0; c < 3; ++c) px[1 + c] = Byte(d, at + rgb[c]);
            }
        }
    }
    return true;
}

// stb writes bytes only, and PFM floats only: the format, not the samples asked for, decides.
bool WriteImage(const std::string& path, const World& world, SampleFormat, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!Encode(path, world, &bytes, error)) return false;
    return WriteWholeFile(path, bytes.data(), bytes.size(), error);
}

bool WriteImage(const std::string& path, const World& world, std::string* error) {
    return WriteImage(path, world, SampleFormat::kUint8, error);
}

SampleFormat WritableFormat(const std::string& path, SampleFormat wanted) {
    if (wanted == SampleFormat::kUint8) return wanted;
    return Extension(path) == ".pfm" ? SampleFormat::kFloat : SampleFormat::kUint8;
}

bool CanWriteImage(const std::string& path, std::string* error) {
    const std::string problem = OutputPathProblem(path);
    if (!problem.empty()) return Fail(error, "cannot write " + path + ": " + problem);
    if (!IsWritableFormat(Extension(path))) {
        return Fail(error, "cannot write " + path + ": " + UnknownFormat(path));
    }
    return true;
}

}  // namespace vexo_host
