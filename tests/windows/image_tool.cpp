// Test images for the Windows render checks, and the comparison of two renders. Runs on the build
// machine. The images are written by the Windows host's own image code, so the Linux host reads
// what the Windows one writes; renders are read back with OpenImageIO, so the Windows host's
// files are also checked against a reader of their formats that is not its own.
//
//   vexo_image_tool pattern OUT WIDTH HEIGHT SEED   a deterministic test image: 8-bit with
//                                                  varying alpha, or 32-bit float (beyond 0..1)
//                                                  when OUT is a .pfm
//   vexo_image_tool compare A B TOLERANCE          exit 0 when every channel the two files
//                                                  share agrees within TOLERANCE in every pixel
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "standalone/image_io.h"

namespace {

namespace OIIO = OIIO_NAMESPACE;
using vexo_host::World;

bool EndsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

int Pattern(const std::string& path, int width, int height, int seed) {
    const bool deep = EndsWith(path, ".pfm");
    World w = vexo_host::MakeWorld(width, height, deep ? 32 : 8);
    for (A_long y = 0; y < height; ++y) {
        for (A_long x = 0; x < width; ++x) {
            const float u = (x + 0.5f) / width, v = (y + 0.5f) / height;
            const bool check = ((x / 8 + y / 8 + seed) & 1) != 0;
            float r = 0.5f + 0.5f * std::sin(6.0f * u + 2.0f * v + seed);
            float g = check ? 0.8f * v : 0.2f + 0.6f * u * v;
            float b = 0.5f + 0.5f * std::cos(9.0f * v - 3.0f * u * seed);
            float a = 1.0f;
            if (deep) {
                // Values a float pipeline must carry unclamped.
                r = r * 1.6f - 0.2f, b = b * 2.5f;
            } else {
                a = 0.25f + 0.75f * std::fabs(std::sin(4.0f * u - 5.0f * v + seed));
                if (x < width / 6 && y < height / 5) a = 0.0f;  // a fully transparent corner
            }
            const float argb[4] = {a, r, g, b};
            for (int c = 0; c < 4; ++c) vexo_host::SetChannel(&w, x, y, c, argb[c]);
        }
    }
    std::string error;
    if (!vexo_host::WriteImage(path, w, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    return 0;
}

// Both files as float, through OpenImageIO: the Linux build's own reader, independent of the
// standalone host's code under test.
bool ReadFloats(const std::string& path, OIIO::ImageSpec* layout, std::vector<float>* pixels) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), OIIO::geterror().c_str());
        return false;
    }
    *layout = in->spec_dimensions(0);
    pixels->resize(std::size_t(layout->width) * layout->height * layout->nchannels);
    if (!in->read_image(0, 0, 0, layout->nchannels, OIIO::TypeDesc::FLOAT, pixels->data())) {
        std::fprintf(stderr, "cannot read %s: %s\n", path.c_str(), in->geterror().c_str());
        return false;
    }
    return true;
}

// Compares the channels both files have (a PFM has no alpha).
int Compare(const std::string& a_path, const std::string& b_path, double tolerance) {
    OIIO::ImageSpec a, b;
    std::vector<float> pa, pb;
    if (!ReadFloats(a_path, &a, &pa) || !ReadFloats(b_path, &b, &pb)) return 2;
    if (a.width != b.width || a.height != b.height) {
        std::fprintf(stderr, "%s is %dx%d, %s is %dx%d\n", a_path.c_str(), a.width, a.height,
                     b_path.c_str(), b.width, b.height);
        return 1;
    }
    const int channels = std::min(a.nchannels, b.nchannels);
    double worst = 0;
    long differing = 0;
    std::size_t worst_pixel = 0;
    int worst_channel = 0;
    for (std::size_t i = 0; i < std::size_t(a.width) * a.height; ++i) {
        for (int c = 0; c < channels; ++c) {
            const float va = pa[i * a.nchannels + c], vb = pb[i * b.nchannels + c];
            // NaN differs from everything, itself included.
            const double d = va == vb                           ? 0.0
                             : std::isnan(va) || std::isnan(vb) ? INFINITY
                                                                : std::fabs(double(va) - vb);
            if (d > 0) ++differing;
            if (d > worst) worst = d, worst_pixel = i, worst_channel = c;
        }
    }
    std::printf("%s vs %s: %dx%d, %d channels, %ld values differ, largest difference %g",
                a_path.c_str(), b_path.c_str(), a.width, a.height, channels, differing, worst);
    if (worst > 0) {
        std::printf(" (channel %d at %d,%d: %.9g vs %.9g)", worst_channel,
                    int(worst_pixel % a.width), int(worst_pixel / a.width),
                    pa[worst_pixel * a.nchannels + worst_channel],
                    pb[worst_pixel * b.nchannels + worst_channel]);
    }
    std::printf("\n");
    return worst <= tolerance ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "pattern" && argc == 6) {
        const int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
        if (w > 0 && h > 0) return Pattern(argv[2], w, h, std::atoi(argv[5]));
    } else if (command == "compare" && argc == 5) {
        return Compare(argv[2], argv[3], std::atof(argv[4]));
    }
    std::fprintf(stderr,
                 "usage: %s pattern OUT WIDTH HEIGHT SEED\n"
                 "       %s compare A B TOLERANCE\n",
                 argv[0], argv[0]);
    return 2;
}
