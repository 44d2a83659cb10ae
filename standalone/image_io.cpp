#include "standalone/image_io.h"

#include "standalone/output_file.h"

#include <dlfcn.h>
#include <png.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

namespace vexo_host {

namespace OIIO = OIIO_NAMESPACE;

namespace {

bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

// OpenImageIO chooses the writer by the extension; its own message names the temporary file.
std::string UnknownFormat(const std::string& path) {
    OIIO::geterror();  // taken, so it is not reported again with a later failure
    const std::size_t slash = path.find_last_of('/'), dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return "no extension to choose the image format by";
    }
    return "no image format known for '" + path.substr(dot) + "'";
}

// The library's account of a failure as one line, in the user's names: OpenImageIO stacks one
// line per layer it passed through, the first says what went wrong, and a write failure names
// the temporary file the user never asked for.
std::string Cause(const std::string& text, const std::string& temp = "",
                  const std::string& path = "") {
    std::string line = text.substr(0, text.find('\n'));
    if (!temp.empty()) {
        for (std::size_t at; (at = line.find(temp)) != std::string::npos;) {
            line.replace(at, temp.size(), path);
        }
    }
    return line;
}

// Wider integers and doubles come as float, the deepest a render holds.
SampleFormat SampleFormatOf(OIIO::TypeDesc format) {
    switch (format.basetype) {
        case OIIO::TypeDesc::UINT8:
        case OIIO::TypeDesc::INT8:
            return SampleFormat::kUint8;
        case OIIO::TypeDesc::UINT16:
        case OIIO::TypeDesc::INT16:
            return SampleFormat::kUint16;
        case OIIO::TypeDesc::HALF:
            return SampleFormat::kHalf;
        default:
            return SampleFormat::kFloat;
    }
}

OIIO::TypeDesc TypeOf(SampleFormat format) {
    switch (format) {
        case SampleFormat::kUint8:
            return OIIO::TypeDesc::UINT8;
        case SampleFormat::kUint16:
            return OIIO::TypeDesc::UINT16;
        case SampleFormat::kHalf:
            return OIIO::TypeDesc::HALF;
        case SampleFormat::kFloat:
            break;
    }
    return OIIO::TypeDesc::FLOAT;
}

// What the writer for `path` stores when asked for `format`: the writers settle it as they open,
// so one pixel is written to memory and read back. Nothing for a writer that only writes to the
// disk, or a file its reader cannot take from memory.
std::optional<SampleFormat> StoredFormat(const std::string& path, SampleFormat format) {
    auto out = OIIO::ImageOutput::create(path);
    std::vector<unsigned char> encoded;
    OIIO::Filesystem::IOVecOutput memory(encoded);
    if (!out || !out->supports("ioproxy") || !out->set_ioproxy(&memory)) return std::nullopt;
    OIIO::ImageSpec layout(1, 1, 4, TypeOf(format));
    layout.alpha_channel = 3;
    const float pixel[4] = {0, 0, 0, 1};
    const bool ok = out->open(path, layout) && out->write_image(OIIO::TypeDesc::FLOAT, pixel);
    out->close();
    out->geterror();  // taken, so it is not reported with a later failure
    if (!ok) return std::nullopt;

    OIIO::Filesystem::IOMemReader written(encoded.data(), encoded.size());
    OIIO::Filesystem::IOProxy* proxy = &written;
    OIIO::ImageSpec config;
    config.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) {
        OIIO::geterror();
        return std::nullopt;
    }
    return SampleFormatOf(in->spec_dimensions(0).format);
}

// A reader of `path` that keeps alpha straight, as files store it and as writers are given it.
OIIO::ImageInput::unique_ptr OpenStraight(const std::string& path) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    return OIIO::ImageInput::open(path, &config);
}

// Writers that store every sample as it is, after a header of at least this many bytes.
struct Uncompressed {
    const char* format;
    std::size_t header;
};
constexpr Uncompressed kUncompressed[] = {{"sgi", 512}, {"fits", 2880}};

// Writers that take a file name carry on past writes the disk refuses (the SGI and FITS writers
// leave holes where rows belong and report success), so their file is read back before it
// replaces the output: what is wrong with it, as "left ..." ("" for none). `pixels` are what was
// given the writer, in `given` samples.
std::string ReadBackProblem(const std::string& temp, const std::string& path,
                            const OIIO::ImageSpec& layout, OIIO::TypeDesc given, const void* pixels,
                            const std::string& format) {
    auto in = OpenStraight(temp);
    if (!in) {
        return "left a file that cannot be read back (" + Cause(OIIO::geterror(), temp, path) + ")";
    }
    const OIIO::ImageSpec back = in->spec_dimensions(0);
    const int w = layout.width, h = layout.height;
    if (back.width != w || back.height != h || back.nchannels < layout.nchannels) {
        return "left a file of " + std::to_string(back.width) + " x " +
               std::to_string(back.height) + " pixels in " + std::to_string(back.nchannels) +
               " channels";
    }
    const std::size_t samples = std::size_t(w) * h * layout.nchannels;
    for (const Uncompressed& u : kUncompressed) {
        if (format != u.format) continue;
        const std::size_t least = u.header + samples * back.format.size();
        const uint64_t size = OIIO::Filesystem::file_size(temp);
        if (size < least) {
            return "left " + std::to_string(size) + " bytes of the " + std::to_string(least) +
                   " its pixels take";
        }
    }
    const bool exact = format != "heif";  // lossy: its pixels differ by design
    // Within a step of the file's samples (and float rounding): writers and readers round their
    // own way.
    const int bits = 8 * int(back.format.size()) - (back.format.is_signed() ? 1 : 0);
    const float step = back.format.is_floating_point()
                           ? (back.format.basetype == OIIO::TypeDesc::HALF ? 1.0f / 1024 : 0.0f)
                           : 1.0f / float((1ull << std::min(bits, 24)) - 1);
    const std::size_t given_row = std::size_t(w) * layout.nchannels;
    std::vector<float> read(std::size_t(w) * back.nchannels), expected(given_row);
    std::vector<unsigned char> stored(given_row * back.format.size());
    for (int y = 0; y < h; ++y) {
        if (!in->read_scanline(back.y + y, back.z, OIIO::TypeDesc::FLOAT, read.data())) {
            return "left a file whose row " + std::to_string(y) + " cannot be read back (" +
                   Cause(in->geterror(), temp, path) + ")";
        }
        if (!exact) continue;
        // As stored: the writer's conversion to the file's samples, then the reader's back.
        const void* row = static_cast<const char*>(pixels) + y * given_row * given.size();
        OIIO::convert_pixel_values(given, row, back.format, stored.data(), int(given_row));
        OIIO::convert_pixel_values(back.format, stored.data(), OIIO::TypeDesc::FLOAT,
                                   expected.data(), int(given_row));
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < layout.nchannels; ++c) {
                const float want = expected[std::size_t(x) * layout.nchannels + c];
                const float got = read[std::size_t(x) * back.nchannels + c];
                if (got != want && !(std::isnan(got) && std::isnan(want)) &&
                    !(std::fabs(got - want) <= 1.5f * step * std::max(1.0f, std::fabs(want)))) {
                    return "left a file whose row " + std::to_string(y) +
                           " differs from the picture";
                }
            }
        }
    }
    return "";
}

// Where red, green, blue and alpha come from among the file's channels; -1 for none.
struct ChannelMap {
    int rgb[3];
    int alpha;
};

// Alpha is the channel the reader names so: EXR by its channel names, TIFF by its extra
// samples, PNG, TGA and the like by their colour type. A fourth channel may as well be depth.
ChannelMap MapChannels(const OIIO::ImageSpec& layout) {
    const int n = layout.nchannels;
    return ChannelMap{{0, n > 2 ? 1 : 0, n > 2 ? 2 : 0}, layout.alpha_channel};
}

// The file opened, with its sizes, channels and pixel format in `layout`; null, with `error`
// set, where it is no 2D image.
OIIO::ImageInput::unique_ptr Open(const std::string& path, OIIO::ImageSpec* layout,
                                  std::string* error) {
    auto in = OpenStraight(path);
    if (!in) {
        Fail(error, "cannot read " + path + ": " + Cause(OIIO::geterror()));
        return nullptr;
    }
    *layout = in->spec_dimensions(0);
    if (layout->width <= 0 || layout->height <= 0 || layout->nchannels <= 0 || layout->depth > 1) {
        Fail(error, path + " is not a 2D image");
        return nullptr;
    }
    return in;
}

}  // namespace

bool ReadSampleFormat(const std::string& path, SampleFormat* format, std::string* error) {
    OIIO::ImageSpec layout;
    if (!Open(path, &layout, error)) return false;
    *format = SampleFormatOf(layout.format);
    return true;
}

bool ReadImage(const std::string& path, int depth, World* world, std::string* error,
               SampleFormat* format, bool* unnamed_alpha) {
    OIIO::ImageSpec layout;
    auto in = Open(path, &layout, error);
    if (!in) return false;
    const SampleFormat stored = SampleFormatOf(layout.format);
    if (format) *format = stored;
    if (depth == 0) depth = stored == SampleFormat::kUint8 ? 8 : 32;
    const std::string too_large = WorldSizeProblem(layout.width, layout.height, depth);
    if (!too_large.empty()) return Fail(error, "cannot read " + path + ": " + too_large);
    const bool deep = depth == 32;
    const int n = layout.nchannels;
    const std::size_t count = std::size_t(layout.width) * layout.height * n;
    std::vector<float> floats(deep ? count : 0);
    std::vector<uint8_t> bytes(deep ? 0 : count);
    const bool ok = deep ? in->read_image(0, 0, 0, n, OIIO::TypeDesc::FLOAT, floats.data())
                         : in->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT8, bytes.data());
    if (!ok) return Fail(error, "cannot read " + path + ": " + Cause(in->geterror()));

    *world = MakeWorld(layout.width, layout.height, depth);
    const ChannelMap m = MapChannels(layout);
    if (unnamed_alpha) *unnamed_alpha = m.alpha < 0 && (n == 2 || n > 3);
    for (A_long y = 0; y < layout.height; ++y) {
        for (A_long x = 0; x < layout.width; ++x) {
            const std::size_t at = (std::size_t(y) * layout.width + x) * n;
            uint8_t* px = reinterpret_cast<uint8_t*>(world->def.data) +
                          std::ptrdiff_t(y) * world->def.rowbytes +
                          std::ptrdiff_t(x) * PixelBytes(depth);
            if (deep) {
                const float argb[4] = {m.alpha >= 0 ? floats[at + m.alpha] : 1.0f,
                                       floats[at + m.rgb[0]], floats[at + m.rgb[1]],
                                       floats[at + m.rgb[2]]};
                std::memcpy(px, argb, sizeof argb);
            } else {
                px[0] = m.alpha >= 0 ? bytes[at + m.alpha] : 255;
                for (int c = 0; c < 3; ++c) px[1 + c] = bytes[at + m.rgb[c]];
            }
        }
    }
    return true;
}

bool WriteImage(const std::string& path, const World& world, SampleFormat format,
                std::string* error) {
    const A_long w = world.def.width, h = world.def.height;
    const bool deep = world.depth == 32;
    OIIO::ImageSpec layout(w, h, 4, TypeOf(format));
    layout.alpha_channel = 3;
    layout.attribute("oiio:UnassociatedAlpha", 1);
    std::vector<float> floats(deep ? std::size_t(w) * h * 4 : 0);
    std::vector<uint8_t> bytes(deep ? 0 : std::size_t(w) * h * 4);
    for (A_long y = 0; y < h; ++y) {
        for (A_long x = 0; x < w; ++x) {
            const std::size_t at = (std::size_t(y) * w + x) * 4;
            const uint8_t* px = reinterpret_cast<const uint8_t*>(world.def.data) +
                                std::ptrdiff_t(y) * world.def.rowbytes +
                                std::ptrdiff_t(x) * PixelBytes(world.depth);
            if (deep) {
                float argb[4];
                std::memcpy(argb, px, sizeof argb);
                floats[at + 0] = argb[1], floats[at + 1] = argb[2], floats[at + 2] = argb[3];
                floats[at + 3] = argb[0];
            } else {
                bytes[at + 0] = px[1], bytes[at + 1] = px[2], bytes[at + 2] = px[3];
                bytes[at + 3] = px[0];
            }
        }
    }

    const auto write = [&](OIIO::ImageOutput* out, const std::string& name, std::string* why) {
        bool ok = out->open(name, layout) &&
                  (deep ? out->write_image(OIIO::TypeDesc::FLOAT, floats.data())
                        : out->write_image(OIIO::TypeDesc::UINT8, bytes.data()));
        if (!ok) *why = Cause(out->geterror(), name, path);
        ok = out->close() && ok;
        if (!ok && why->empty()) *why = Cause(out->geterror(), name, path);
        return ok;
    };
    // Encoded in memory and written by us where the writer allows: the PNG writer, for one,
    // takes no notice of a write the disk refuses and would report a cut-off file as written.
    std::vector<unsigned char> encoded;
    OIIO::Filesystem::IOVecOutput memory(encoded);
    if (auto out = OIIO::ImageOutput::create(path)) {
        if (out->supports("ioproxy") && out->set_ioproxy(&memory)) {
            std::string why;
            if (!write(out.get(), path, &why)) return Fail(error, CannotWrite(path, why));
            return WriteWholeFile(path, encoded.data(), encoded.size(), error);
        }
    }
    auto out = OIIO::ImageOutput::create(path);
    if (!out) return Fail(error, CannotWrite(path, UnknownFormat(path)));
    // The writer opens the file by name: one made exclusively first keeps the name ours.
    std::string temp, why;
    std::FILE* reserved = CreateTemporaryBeside(path, &temp, &why);
    if (!reserved) return Fail(error, CannotWrite(path, why));
    std::fclose(reserved);
    std::string writer = out->format_name();
    for (char& c : writer) c = char(std::toupper(static_cast<unsigned char>(c)));
    writer = "the " + writer + " writer ";
    bool ok = write(out.get(), temp, &why);
    if (!ok) {
        why = writer + "failed" + (why.empty() ? "" : " (" + why + ")");
    } else {
        why = ReadBackProblem(
            temp, path, layout, deep ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8,
            deep ? static_cast<const void*>(floats.data()) : bytes.data(), out->format_name());
        ok = why.empty();
        if (!ok) why = writer + why;
    }
    if (!ok) {
        const std::string disk = DiskRefusal(temp);
        if (!disk.empty()) why += ": " + disk;
    }
    if (!CommitTemporary(temp, path, ok, &why)) return Fail(error, CannotWrite(path, why));
    return true;
}

bool WriteImage(const std::string& path, const World& world, std::string* error) {
    return WriteImage(path, world, world.depth == 32 ? SampleFormat::kFloat : SampleFormat::kUint8,
                      error);
}

SampleFormat WritableFormat(const std::string& path, SampleFormat wanted) {
    using F = SampleFormat;
    if (wanted == F::kUint8) return wanted;  // every format holds bytes, if in wider samples
    const std::optional<F> stored = StoredFormat(path, wanted);
    if (!stored || *stored == wanted || *stored == F::kFloat) return wanted;
    // Deepest first; for floats, half floats keep the values outside 0..1 that integers clip.
    const F fallbacks[2] = {wanted == F::kFloat ? F::kHalf : F::kFloat,
                            wanted == F::kUint16 ? F::kHalf : F::kUint16};
    for (const F candidate : fallbacks) {
        if (StoredFormat(path, candidate) == candidate) return candidate;
    }
    return F::kUint8;
}

bool CanWriteImage(const std::string& path, std::string* error) {
    const std::string problem = OutputPathProblem(path);
    if (!problem.empty()) return Fail(error, "cannot write " + path + ": " + problem);
    if (!OIIO::ImageOutput::create(path)) {
        return Fail(error, "cannot write " + path + ": " + UnknownFormat(path));
    }
    return true;
}

}  // namespace vexo_host

// OpenImageIO 2.4's PNG error handler records libpng's message (geterror() hands it back) and
// returns; libpng then falls back on its own handler, which prints "libpng error: ..." on
// standard error before it gives up, ahead of the message that names the user's file. This
// definition stands in for libpng's (the executable exports it; see cmake/host_deps.cmake):
// each error handler given is wrapped so that, once it has recorded the message, the read or
// write gives up as libpng's own handler would, without printing. Warnings with no handler of
// their own are dropped. Standard error itself is never touched, so other threads' messages go
// out as they come.
namespace {

using PngSetErrorFn = void (*)(png_structrp, png_voidp, png_error_ptr, png_error_ptr);

// OpenImageIO has one handler for reading and one for writing; a few more slots cost nothing.
constexpr int kPngHandlers = 4;
std::atomic<png_error_ptr> g_png_handlers[kPngHandlers];

template <int I>
void PngGiveUp(png_structp png, png_const_charp text) {
    if (const png_error_ptr handler = g_png_handlers[I].load()) handler(png, text);
    png_longjmp(png, 1);
}

constexpr png_error_ptr kPngGiveUp[kPngHandlers] = {PngGiveUp<0>, PngGiveUp<1>, PngGiveUp<2>,
                                                    PngGiveUp<3>};

void PngQuietWarning(png_structp, png_const_charp) {}

}  // namespace

extern "C" __attribute__((visibility("default"))) void png_set_error_fn(png_structrp png,
                                                                        png_voidp error_ptr,
                                                                        png_error_ptr error_fn,
                                                                        png_error_ptr warning_fn) {
#define VEXO_PNG_TEXT(x) #x
#define VEXO_PNG_VERSION(x) "PNG" VEXO_PNG_TEXT(x) "_0"
    static const auto real = [] {
        void* found = dlvsym(RTLD_NEXT, "png_set_error_fn", VEXO_PNG_VERSION(PNG_LIBPNG_VER_SONUM));
        return reinterpret_cast<PngSetErrorFn>(found ? found
                                                     : dlsym(RTLD_NEXT, "png_set_error_fn"));
    }();
#undef VEXO_PNG_VERSION
#undef VEXO_PNG_TEXT
    if (!real) return;
    for (int i = 0; error_fn && i < kPngHandlers; ++i) {
        png_error_ptr held = nullptr;
        if (g_png_handlers[i].compare_exchange_strong(held, error_fn) || held == error_fn) {
            error_fn = kPngGiveUp[i];
            break;
        }
    }
    real(png, error_ptr, error_fn, warning_fn ? warning_fn : PngQuietWarning);
}
