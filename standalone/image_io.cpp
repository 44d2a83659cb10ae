#include "standalone/image_io.h"

#include "standalone/output_file.h"

#include <OpenImageIO/imageio.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace vexo_host {

namespace OIIO = OIIO_NAMESPACE;

namespace {

bool Fail(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

bool IsFloatFormat(OIIO::TypeDesc format) {
    return format.basetype == OIIO::TypeDesc::FLOAT || format.basetype == OIIO::TypeDesc::HALF ||
           format.basetype == OIIO::TypeDesc::DOUBLE;
}

// Where red, green, blue and alpha come from among the file's channels; -1 for none.
struct ChannelMap {
    int rgb[3];
    int alpha;
};

ChannelMap MapChannels(const OIIO::ImageSpec& layout) {
    const int n = layout.nchannels;
    ChannelMap m{{0, n > 2 ? 1 : 0, n > 2 ? 2 : 0}, -1};
    if (layout.alpha_channel >= 0) {
        m.alpha = layout.alpha_channel;
    } else if (n == 2 || n >= 4) {
        m.alpha = n == 2 ? 1 : 3;
    }
    return m;
}

}  // namespace

bool ReadImage(const std::string& path, int depth, World* world, std::string* error) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);  // keep alpha straight, as stored
    auto in = OIIO::ImageInput::open(path, &config);
    if (!in) return Fail(error, "cannot read " + path + ": " + OIIO::geterror());
    // Sizes, channels and pixel format are all that is read here.
    const OIIO::ImageSpec layout = in->spec_dimensions(0);
    if (layout.width <= 0 || layout.height <= 0 || layout.nchannels <= 0 || layout.depth > 1) {
        return Fail(error, path + " is not a 2D image");
    }
    if (depth == 0) depth = IsFloatFormat(layout.format) ? 32 : 8;
    const bool deep = depth == 32;
    const int n = layout.nchannels;
    const std::size_t count = std::size_t(layout.width) * layout.height * n;
    std::vector<float> floats(deep ? count : 0);
    std::vector<uint8_t> bytes(deep ? 0 : count);
    const bool ok = deep ? in->read_image(0, 0, 0, n, OIIO::TypeDesc::FLOAT, floats.data())
                         : in->read_image(0, 0, 0, n, OIIO::TypeDesc::UINT8, bytes.data());
    if (!ok) return Fail(error, "cannot read " + path + ": " + in->geterror());

    *world = MakeWorld(layout.width, layout.height, depth);
    const ChannelMap m = MapChannels(layout);
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

bool WriteImage(const std::string& path, const World& world, std::string* error) {
    const A_long w = world.def.width, h = world.def.height;
    const bool deep = world.depth == 32;
    OIIO::ImageSpec layout(w, h, 4, deep ? OIIO::TypeDesc::FLOAT : OIIO::TypeDesc::UINT8);
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

    const std::string temp = TemporaryBeside(path, &world);
    auto out = OIIO::ImageOutput::create(temp);
    if (!out) return Fail(error, "cannot write " + path + ": " + OIIO::geterror());
    bool ok =
        out->open(temp, layout) && (deep ? out->write_image(OIIO::TypeDesc::FLOAT, floats.data())
                                         : out->write_image(OIIO::TypeDesc::UINT8, bytes.data()));
    std::string why = ok ? "" : out->geterror();
    ok = out->close() && ok;
    if (!CommitTemporary(temp, path, ok, &why)) {
        return Fail(error, "cannot write " + path + (why.empty() ? "" : ": " + why));
    }
    return true;
}

}  // namespace vexo_host
