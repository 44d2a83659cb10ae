// The OpenFX plug-in: the effect's own render code behind the OFX entry points. Every GL call
// runs on the module's own threads; the host's threads only read properties and convert pixels.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "context/gl_context.h"
#include "context/render_data.h"
#include "effect/VexorantPro.h"
#include "gl/diagnostics.h"
#include "gl/kept_targets.h"
#include "host/messages.h"
#include "effect/param_ui.h"
#include "ofx/plugin/ofx_params.h"
#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMessage.h"
#include "ofxParam.h"
#include "ofxProperty.h"
#include "render/reach.h"
#include "render/smart_render.h"
#include "threads/module_threads.h"

namespace {

constexpr const char* kMapClipName = "Map";
// The per-clip region-of-interest properties are named by this prefix and the clip's name.
constexpr const char* kRoIPrefix = "OfxImageClipPropRoI_";

const OfxPropertySuiteV1* g_props = nullptr;
const OfxImageEffectSuiteV1* g_effects = nullptr;
const OfxParameterSuiteV1* g_params = nullptr;
const OfxMessageSuiteV1* g_messages = nullptr;  // optional
OfxHost* g_host = nullptr;

// The record whose context proves one can be made; contexts of the module's threads are made
// once it has one. Zero-filled is valid: the first render makes it.
LocalGLStruct g_global_record{};
std::mutex g_instances_mutex;
int g_instances = 0;

// Diagnostics never reach standard output, which may be the host's data.
void DiagnosticToStandardError(const char* text) { std::fputs(text, stderr); }

// The message sink's text of the frame rendering on this (module) thread.
thread_local std::string t_message;
void KeepMessage(const std::string& text) { t_message = text; }

struct Instance {
    bool general = false;
    OfxImageClipHandle source = nullptr, map = nullptr, output = nullptr;
    OfxParamHandle params[kParamCount] = {};
    OfxParamSetHandle param_set = nullptr;
};

Instance* InstanceOf(OfxImageEffectHandle effect) {
    OfxPropertySetHandle props = nullptr;
    if (g_effects->getPropertySet(effect, &props) != kOfxStatOK) return nullptr;
    void* data = nullptr;
    if (g_props->propGetPointer(props, kOfxPropInstanceData, 0, &data) != kOfxStatOK)
        return nullptr;
    return static_cast<Instance*>(data);
}

void Tell(OfxImageEffectHandle effect, const std::string& text) {
    if (g_messages && g_messages->message) {
        g_messages->message(effect, kOfxMessageError, nullptr, "%s", ("VEXO: " + text).c_str());
    } else {
        std::fprintf(stderr, "VEXO: %s\n", text.c_str());
    }
}

// --- Regions. The frame is the source's region of definition in pixels at the render scale;
// the render code counts its rows from the top, OpenFX from the bottom.

struct Scale {
    double x = 1, y = 1, par = 1;
};

OfxRectI ToPixels(const OfxRectD& r, const Scale& s) {
    const double sx = s.x / s.par;
    return OfxRectI{int(std::floor(r.x1 * sx)), int(std::floor(r.y1 * s.y)),
                    int(std::ceil(r.x2 * sx)), int(std::ceil(r.y2 * s.y))};
}

OfxRectD ToCanonical(const OfxRectI& r, const Scale& s) {
    const double sx = s.x / s.par;
    return OfxRectD{r.x1 / sx, r.y1 / s.y, r.x2 / sx, r.y2 / s.y};
}

// A rectangle of pixels as the render code's grid places it: y negated, so that rows count down.
PF_LRect OnGrid(const OfxRectI& r) { return PF_LRect{r.x1, -r.y2, r.x2, -r.y1}; }

Region OnFrame(const OfxRectI& r, const OfxRectI& frame) {
    return Region{int64_t(r.x1) - frame.x1, int64_t(frame.y2) - r.y2, int64_t(r.x2) - frame.x1,
                  int64_t(frame.y2) - r.y1};
}

OfxRectI FromFrame(const Region& r, const OfxRectI& frame) {
    return OfxRectI{int(frame.x1 + r.left), int(frame.y2 - r.bottom), int(frame.x1 + r.right),
                    int(frame.y2 - r.top)};
}

Scale ScaleOf(OfxPropertySetHandle in_args, OfxImageClipHandle clip) {
    Scale s;
    g_props->propGetDouble(in_args, kOfxImageEffectPropRenderScale, 0, &s.x);
    g_props->propGetDouble(in_args, kOfxImageEffectPropRenderScale, 1, &s.y);
    OfxPropertySetHandle clip_props = nullptr;
    if (clip && g_effects->clipGetPropertySet(clip, &clip_props) == kOfxStatOK) {
        g_props->propGetDouble(clip_props, kOfxImagePropPixelAspectRatio, 0, &s.par);
    }
    if (!(s.x > 0)) s.x = 1;
    if (!(s.y > 0)) s.y = 1;
    if (!(s.par > 0)) s.par = 1;
    return s;
}

bool ClipConnected(OfxImageClipHandle clip) {
    OfxPropertySetHandle props = nullptr;
    int connected = 0;
    return clip && g_effects->clipGetPropertySet(clip, &props) == kOfxStatOK &&
           g_props->propGetInt(props, kOfxImageClipPropConnected, 0, &connected) == kOfxStatOK &&
           connected;
}

// The render's settings from the parameters at `time`, for a frame placed as `placement` says
// at render scale `scale`. Only the map's presence is read of `map`; the other buffers are left
// unset.
OfxStatus Settings(const Instance& in, double time, const FramePlacement& placement,
                   const Scale& scale, int16_t depth, PF_LayerDef* map, myParams* p) {
    PF_ParamDef defs[kParamCount];
    const OfxStatus status = ReadParamsAt(g_params, in.params, time, defs);
    if (status != kOfxStatOK) return status;
    std::memset(static_cast<void*>(p), 0, sizeof *p);
    PlaceFrame(&placement, p);
    p->mapWorld = map;
    // The blur's radius follows the scale as the host's downsampling: a ratio it can hold.
    const PF_RationalScale downsample{A_long(std::lround(scale.x * 65536.0)), 65536};
    ResolveRenderSettings(defs, depth, downsample, p);
    // A pixel's shape as seen: the clip's, stretched by a scale that differs between the axes.
    p->pixelAspect = scale.par * scale.y / scale.x;
    return kOfxStatOK;
}

// Whether a clip's images reach the render as bytes: 8 bits, premultiplied (or opaque).
bool BytesFromClip(OfxImageClipHandle clip) {
    OfxPropertySetHandle props = nullptr;
    char* depth = nullptr;
    char* premultiplication = nullptr;
    if (!clip || g_effects->clipGetPropertySet(clip, &props) != kOfxStatOK ||
        g_props->propGetString(props, kOfxImageEffectPropPixelDepth, 0, &depth) != kOfxStatOK ||
        !depth || std::strcmp(depth, kOfxBitDepthByte) != 0) {
        return false;
    }
    return g_props->propGetString(props, kOfxImageEffectPropPreMultiplication, 0,
                                  &premultiplication) != kOfxStatOK ||
           !premultiplication || std::strcmp(premultiplication, kOfxImageUnPreMultiplied) != 0;
}

// The depth the render runs at: a map from bytes is bounded, one from floats is not.
int16_t RenderDepth(const Instance& in) {
    const bool bytes = BytesFromClip(in.source) && BytesFromClip(in.output) &&
                       (!in.general || !ClipConnected(in.map) || BytesFromClip(in.map));
    return bytes ? 8 : 32;
}

// The action's time.
double TimeOf(OfxPropertySetHandle in_args) {
    double time = 0;
    g_props->propGetDouble(in_args, kOfxPropTime, 0, &time);
    return time;
}

// The settings for the whole frame at `time`: the source's region of definition, that region in
// pixels at `scale`, and the parameters over it.
OfxStatus WholeFrameSettings(const Instance& in, double time, const Scale& scale, OfxRectD* rod,
                             OfxRectI* frame, myParams* p) {
    const OfxStatus got = g_effects->clipGetRegionOfDefinition(in.source, time, rod);
    if (got != kOfxStatOK) return got;
    *frame = ToPixels(*rod, scale);
    const FramePlacement whole{OnGrid(*frame), OnGrid(*frame)};
    return Settings(in, time, whole, scale, RenderDepth(in), nullptr, p);
}

// What each clip must hold to draw `asked` (canonical): the source where the displacement can
// take its pixels from (as the picture, and as the map in the filter context), the map where the
// passes read it. The same computation the pre-render makes for the host's API.
struct Reach {
    OfxRectD source, map;
};

OfxStatus ReachOf(const Instance& in, double time, const Scale& scale, const OfxRectD& asked,
                  Reach* reach) {
    OfxRectD rod{};
    OfxRectI frame{};
    myParams p;
    const OfxStatus read = WholeFrameSettings(in, time, scale, &rod, &frame, &p);
    if (read != kOfxStatOK) return read;
    const Region window = Intersect(OnFrame(ToPixels(asked, scale), frame),
                                    Region{0, 0, int64_t(p.frameSize.x), int64_t(p.frameSize.y)});
    // Nothing of the source asked for: the render draws nothing, and each clip is asked for what
    // the host asked.
    if (window.empty()) {
        reach->source = reach->map = asked;
        return kOfxStatOK;
    }
    const Region evaluated = EvaluatedRegion(p, window);
    Region input;
    reach->source =
        InputReach(p, evaluated, &input) ? ToCanonical(FromFrame(input, frame), scale) : rod;
    reach->map = ToCanonical(FromFrame(MapReach(p, evaluated), frame), scale);
    return kOfxStatOK;
}

OfxStatus GetRegionOfDefinition(OfxImageEffectHandle effect, OfxPropertySetHandle in_args,
                                OfxPropertySetHandle out_args) {
    Instance* in = InstanceOf(effect);
    if (!in) return kOfxStatErrBadHandle;
    const double time = TimeOf(in_args);
    OfxRectD rod{};
    const OfxStatus status = g_effects->clipGetRegionOfDefinition(in->source, time, &rod);
    if (status != kOfxStatOK) return status;
    OfxPropertyWriter out{g_props, out_args};
    out.Rect(kOfxImageEffectPropRegionOfDefinition, rod);
    return out.status;
}

void SetRoI(OfxPropertySetHandle out_args, const char* clip, const OfxRectD& r) {
    OfxPropertyWriter{g_props, out_args}.Rect((std::string(kRoIPrefix) + clip).c_str(), r);
}

OfxStatus GetRegionsOfInterest(OfxImageEffectHandle effect, OfxPropertySetHandle in_args,
                               OfxPropertySetHandle out_args) {
    Instance* in = InstanceOf(effect);
    if (!in) return kOfxStatErrBadHandle;
    const double time = TimeOf(in_args);
    double asked[4] = {};
    g_props->propGetDoubleN(in_args, kOfxImageEffectPropRegionOfInterest, 4, asked);
    Reach reach;
    // Parameters the host cannot hand over now it will not hand the render either, which fails
    // then with its message: nothing is bounded meanwhile.
    if (ReachOf(*in, time, ScaleOf(in_args, in->source),
                OfxRectD{asked[0], asked[1], asked[2], asked[3]}, &reach) != kOfxStatOK) {
        return kOfxStatReplyDefault;
    }
    SetRoI(out_args, kOfxImageEffectSimpleSourceClipName, reach.source);
    if (in->general) SetRoI(out_args, kMapClipName, reach.map);
    return kOfxStatOK;
}

// --- Identity and clip preferences.

std::string ClipString(OfxImageClipHandle clip, const char* property) {
    OfxPropertySetHandle props = nullptr;
    char* value = nullptr;
    if (!clip || g_effects->clipGetPropertySet(clip, &props) != kOfxStatOK ||
        g_props->propGetString(props, property, 0, &value) != kOfxStatOK || !value) {
        return "";
    }
    return value;
}

// Whether a clip's pixels reach the render finite, within 0..1 and premultiplied: a float pixel
// may be no number or beyond any bound (which the render does not copy), and a straight pixel of
// no alpha keeps a colour that the render's premultiplication drops.
bool BoundedPremultiplied(OfxImageClipHandle clip) {
    const std::string depth = ClipString(clip, kOfxImageEffectPropPixelDepth);
    return (depth == kOfxBitDepthByte || depth == kOfxBitDepthShort) &&
           ClipString(clip, kOfxImageEffectPropPreMultiplication) != kOfxImageUnPreMultiplied;
}

OfxStatus IsIdentity(OfxImageEffectHandle effect, OfxPropertySetHandle in_args,
                     OfxPropertySetHandle out_args) {
    Instance* in = InstanceOf(effect);
    if (!in) return kOfxStatErrBadHandle;
    const bool map = in->general && ClipConnected(in->map);
    if (!BoundedPremultiplied(in->source) || !BoundedPremultiplied(in->output) ||
        (map && !BoundedPremultiplied(in->map))) {
        return kOfxStatReplyDefault;
    }
    OfxRectD rod{};
    OfxRectI frame{};
    myParams p;
    if (WholeFrameSettings(*in, TimeOf(in_args), ScaleOf(in_args, in->source), &rod, &frame, &p) !=
            kOfxStatOK ||
        !CopiesInput(p)) {
        return kOfxStatReplyDefault;
    }
    g_props->propSetString(out_args, kOfxPropName, 0, kOfxImageEffectSimpleSourceClipName);
    return kOfxStatReplyYes;
}

// Every clip RGBA at the one depth the host chose; the output premultiplied as the source is,
// and an opaque source's as premultiplied, since the edges may move transparency in.
OfxStatus GetClipPreferences(OfxImageEffectHandle effect, OfxPropertySetHandle out_args) {
    Instance* in = InstanceOf(effect);
    if (!in) return kOfxStatErrBadHandle;
    const std::string depth = ClipString(in->output, kOfxImageEffectPropPixelDepth);
    const std::pair<const char*, OfxImageClipHandle> clips[] = {
        {kOfxImageEffectSimpleSourceClipName, in->source},
        {kMapClipName, in->map},
        {kOfxImageEffectOutputClipName, in->output}};
    OfxPropertyWriter p{g_props, out_args};
    for (const auto& [name, clip] : clips) {
        if (!clip) continue;
        p.String((std::string("OfxImageClipPropComponents_") + name).c_str(),
                 kOfxImageComponentRGBA);
        if (!depth.empty()) {
            p.String((std::string("OfxImageClipPropDepth_") + name).c_str(), depth.c_str());
        }
    }
    const bool straight =
        ClipString(in->source, kOfxImageEffectPropPreMultiplication) == kOfxImageUnPreMultiplied;
    p.String(kOfxImageEffectPropPreMultiplication,
             straight ? kOfxImageUnPreMultiplied : kOfxImagePreMultiplied);
    return p.status;
}

// --- Images. The render code reads and writes alpha-first pixels, rows from the top, at 8 bits
// or float, premultiplied; OpenFX images are red-first, rows from the bottom at either sign of
// row bytes, at 8, 16 bits or float, premultiplied or straight.

struct Image {
    OfxPropertySetHandle handle = nullptr;
    char* data = nullptr;
    OfxRectI bounds{};
    int row_bytes = 0;
    int bits = 0;  // 8, 16 or 32
    bool straight = false;
};

struct ImageRelease {
    void operator()(Image* image) const {
        if (image->handle) g_effects->clipReleaseImage(image->handle);
        delete image;
    }
};
using ImagePtr = std::unique_ptr<Image, ImageRelease>;

int BitsOf(const char* depth) {
    if (!std::strcmp(depth, kOfxBitDepthByte)) return 8;
    if (!std::strcmp(depth, kOfxBitDepthShort)) return 16;
    if (!std::strcmp(depth, kOfxBitDepthFloat)) return 32;
    return 0;
}

constexpr const char* kNoImage = "no image";

// Fetches `clip`'s image at `time` over `region`; null with `why` set where it has none or one
// the render cannot read.
ImagePtr FetchImage(OfxImageClipHandle clip, double time, const OfxRectD* region,
                    std::string* why) {
    ImagePtr image(new Image);
    if (g_effects->clipGetImage(clip, time, region, &image->handle) != kOfxStatOK) {
        image->handle = nullptr;
        *why = kNoImage;
        return nullptr;
    }
    void* data = nullptr;
    char* depth = nullptr;
    char* components = nullptr;
    char* premultiplication = nullptr;
    int b[4] = {};
    const OfxPropertySetHandle h = image->handle;
    if (g_props->propGetPointer(h, kOfxImagePropData, 0, &data) != kOfxStatOK ||
        g_props->propGetIntN(h, kOfxImagePropBounds, 4, b) != kOfxStatOK ||
        g_props->propGetInt(h, kOfxImagePropRowBytes, 0, &image->row_bytes) != kOfxStatOK ||
        g_props->propGetString(h, kOfxImageEffectPropPixelDepth, 0, &depth) != kOfxStatOK ||
        g_props->propGetString(h, kOfxImageEffectPropComponents, 0, &components) != kOfxStatOK) {
        *why = "an image without its properties";
        return nullptr;
    }
    if (g_props->propGetString(h, kOfxImageEffectPropPreMultiplication, 0, &premultiplication) ==
            kOfxStatOK &&
        premultiplication) {
        image->straight = !std::strcmp(premultiplication, kOfxImageUnPreMultiplied);
    }
    image->data = static_cast<char*>(data);
    image->bounds = OfxRectI{b[0], b[1], b[2], b[3]};
    image->bits = depth ? BitsOf(depth) : 0;
    if (!components || std::strcmp(components, kOfxImageComponentRGBA) != 0 || !image->bits) {
        *why = "an image that is not RGBA at 8, 16 bits or float";
        return nullptr;
    }
    const int64_t w = int64_t(b[2]) - b[0], rows = int64_t(b[3]) - b[1];
    if (w < 0 || rows < 0 ||
        (w * rows > 0 && (!data || std::llabs(image->row_bytes) < w * 4 * (image->bits / 8)))) {
        *why = "an image whose rows do not hold its bounds";
        return nullptr;
    }
    return image;
}

// A buffer in the render code's layout.
struct World {
    PF_LayerDef def{};
    std::vector<float> storage;  // 8-bit worlds use its bytes
};

char* HostRow(const Image& image, int y) {
    return image.data + std::ptrdiff_t(y - image.bounds.y1) * image.row_bytes;
}

float ChannelOf(const Image& image, const char* pixel, int c) {
    switch (image.bits) {
        case 8:
            return reinterpret_cast<const uint8_t*>(pixel)[c] / 255.0f;
        case 16:
            return reinterpret_cast<const uint16_t*>(pixel)[c] / 65535.0f;
        default:
            return reinterpret_cast<const float*>(pixel)[c];
    }
}

void MakeWorld(World* world, const OfxRectI& r, int depth) {
    const int w = r.x2 - r.x1, h = r.y2 - r.y1;
    const int pixel_bytes = depth == 32 ? 16 : 4;
    world->storage.assign((std::size_t(w) * h * pixel_bytes + 3) / 4, 0.0f);
    world->def.data = reinterpret_cast<PF_PixelPtr>(world->storage.data());
    world->def.width = w;
    world->def.height = h;
    world->def.rowbytes = w * pixel_bytes;
    world->def.origin_x = r.x1;
    world->def.origin_y = -r.y2;
}

// The image as a world of `depth` bits (8 only from premultiplied bytes), premultiplied.
void ToWorld(const Image& image, int depth, World* world) {
    MakeWorld(world, image.bounds, depth);
    const int w = world->def.width;
    for (int row = 0; row < world->def.height; ++row) {
        const char* src = HostRow(image, image.bounds.y2 - 1 - row);
        char* dst =
            reinterpret_cast<char*>(world->def.data) + std::ptrdiff_t(row) * world->def.rowbytes;
        if (depth == 8) {
            const auto* s = reinterpret_cast<const uint8_t*>(src);
            auto* d = reinterpret_cast<uint8_t*>(dst);
            for (int x = 0; x < w; ++x, s += 4, d += 4) {
                d[0] = s[3], d[1] = s[0], d[2] = s[1], d[3] = s[2];
            }
            continue;
        }
        const int pixel_bytes = 4 * (image.bits / 8);
        auto* d = reinterpret_cast<float*>(dst);
        for (int x = 0; x < w; ++x, src += pixel_bytes, d += 4) {
            const float a = ChannelOf(image, src, 3);
            const float k = image.straight ? a : 1.0f;
            d[0] = a;
            d[1] = ChannelOf(image, src, 0) * k;
            d[2] = ChannelOf(image, src, 1) * k;
            d[3] = ChannelOf(image, src, 2) * k;
        }
    }
}

template <typename T>
T Quantised(float v, float top) {
    const float c = std::min(std::max(v, 0.0f), 1.0f);
    return T(std::lround(c * top));
}

// The world's pixels into `image` where they overlap it: channel order, row direction, depth and
// premultiplication as the image has them.
void FromWorld(const World& world, const OfxRectI& at, Image* image) {
    const OfxRectI& b = image->bounds;
    const int x1 = std::max(at.x1, b.x1), x2 = std::min(at.x2, b.x2);
    const int y1 = std::max(at.y1, b.y1), y2 = std::min(at.y2, b.y2);
    const int world_bits = world.def.rowbytes == world.def.width * 4 ? 8 : 32;
    const int pixel_bytes = 4 * (image->bits / 8);
    for (int y = y1; y < y2; ++y) {
        const char* src_row = reinterpret_cast<const char*>(world.def.data) +
                              std::ptrdiff_t(at.y2 - 1 - y) * world.def.rowbytes;
        char* dst = HostRow(*image, y) + std::ptrdiff_t(x1 - b.x1) * pixel_bytes;
        for (int x = x1; x < x2; ++x, dst += pixel_bytes) {
            float c[4];  // red, green, blue, alpha
            if (world_bits == 8) {
                const auto* s = reinterpret_cast<const uint8_t*>(src_row) + (x - at.x1) * 4;
                if (image->bits == 8) {
                    auto* d = reinterpret_cast<uint8_t*>(dst);
                    d[0] = s[1], d[1] = s[2], d[2] = s[3], d[3] = s[0];
                    continue;
                }
                c[0] = s[1] / 255.0f, c[1] = s[2] / 255.0f, c[2] = s[3] / 255.0f;
                c[3] = s[0] / 255.0f;
            } else {
                const auto* s = reinterpret_cast<const float*>(src_row) + (x - at.x1) * 4;
                c[0] = s[1], c[1] = s[2], c[2] = s[3], c[3] = s[0];
            }
            if (image->straight) {
                for (int i = 0; i < 3; ++i) c[i] = c[3] > 0 ? c[i] / c[3] : 0.0f;
            }
            for (int i = 0; i < 4; ++i) {
                switch (image->bits) {
                    case 8:
                        reinterpret_cast<uint8_t*>(dst)[i] = Quantised<uint8_t>(c[i], 255.0f);
                        break;
                    case 16:
                        reinterpret_cast<uint16_t*>(dst)[i] = Quantised<uint16_t>(c[i], 65535.0f);
                        break;
                    default:
                        reinterpret_cast<float*>(dst)[i] = c[i];
                }
            }
        }
    }
}

void ClearImage(Image* image, const OfxRectI& window) {
    const OfxRectI& b = image->bounds;
    const int x1 = std::max(window.x1, b.x1), x2 = std::min(window.x2, b.x2);
    const int pixel_bytes = 4 * (image->bits / 8);
    if (x2 <= x1) return;
    for (int y = std::max(window.y1, b.y1); y < std::min(window.y2, b.y2); ++y) {
        std::memset(HostRow(*image, y) + std::ptrdiff_t(x1 - b.x1) * pixel_bytes, 0,
                    std::size_t(x2 - x1) * pixel_bytes);
    }
}

// Runs the passes on a module thread; the message is what the render's failure said.
PF_Err RenderOnModuleThread(myParams* p, std::string* message) {
    PF_Err err = PF_Err_NONE;
    auto task = [&]() noexcept {
        t_message.clear();
        PF_OutData out_data{};
        bool clear_output = false;
        err = RenderResolvedFrame(p, &g_global_record, &out_data, &clear_output);
        if (err) *message = out_data.return_msg[0] ? out_data.return_msg : t_message;
    };
    try {
        RunOnModuleThread(task);
    } catch (...) {
        *message = "no thread to render on";
        return PF_Err_OUT_OF_MEMORY;
    }
    return err;
}

OfxStatus Render(OfxImageEffectHandle effect, OfxPropertySetHandle in_args) {
    Instance* in = InstanceOf(effect);
    if (!in) return kOfxStatErrBadHandle;
    const double time = TimeOf(in_args);
    int rw[4] = {};
    g_props->propGetIntN(in_args, kOfxImageEffectPropRenderWindow, 4, rw);
    const OfxRectI window{rw[0], rw[1], rw[2], rw[3]};
    const Scale scale = ScaleOf(in_args, in->source);

    std::string why;
    ImagePtr output = FetchImage(in->output, time, nullptr, &why);
    if (!output) {
        Tell(effect, "the output: " + why);
        return kOfxStatFailed;
    }
    ClearImage(output.get(), window);
    OfxRectD rod{};
    if (g_effects->clipGetRegionOfDefinition(in->source, time, &rod) != kOfxStatOK) {
        return kOfxStatOK;  // no source: nothing to displace
    }
    const OfxRectI frame = ToPixels(rod, scale);
    // Each clip is asked for what the regions of interest told the host.
    Reach reach;
    if (ReachOf(*in, time, scale, ToCanonical(window, scale), &reach) != kOfxStatOK) {
        Tell(effect, "the parameters could not be read");
        return kOfxStatFailed;
    }
    ImagePtr source = FetchImage(in->source, time, &reach.source, &why);
    if (!source) {
        if (why == kNoImage) return kOfxStatOK;  // nothing to displace
        Tell(effect, "the source: " + why);
        return kOfxStatFailed;
    }
    ImagePtr map;
    if (in->general && ClipConnected(in->map)) {
        map = FetchImage(in->map, time, &reach.map, &why);
        if (!map && why != kNoImage) {
            Tell(effect, "the map: " + why);
            return kOfxStatFailed;
        }
    }
    if (source->bounds.x2 <= source->bounds.x1 || source->bounds.y2 <= source->bounds.y1) {
        return kOfxStatOK;
    }
    // Bytes reach the render as they are; everything else as float, where 16 bits and straight
    // alpha lose nothing on the way.
    const auto byte_world = [](const Image* image) { return image->bits == 8 && !image->straight; };
    const int depth =
        byte_world(source.get()) && byte_world(output.get()) && (!map || byte_world(map.get()))
            ? 8
            : 32;

    World input_world, map_world, output_world;
    try {
        ToWorld(*source, depth, &input_world);
        if (map) ToWorld(*map, depth, &map_world);
        MakeWorld(&output_world, window, depth);
    } catch (const std::bad_alloc&) {
        Tell(effect, "not enough memory for the frame");
        return kOfxStatErrMemory;
    }
    myParams p;
    const FramePlacement placement{OnGrid(frame), OnGrid(source->bounds)};
    if (Settings(*in, time, placement, scale, int16_t(depth), map ? &map_world.def : nullptr, &p) !=
        kOfxStatOK) {
        Tell(effect, "the parameters could not be read");
        return kOfxStatFailed;
    }
    p.inputWorld = &input_world.def;
    p.outputWorld = &output_world.def;

    std::string message;
    if (const PF_Err err = RenderOnModuleThread(&p, &message)) {
        Tell(effect, (message.empty() ? "the frame could not be rendered" : message) + " (error " +
                         std::to_string(err) + ")");
        return kOfxStatFailed;
    }
    FromWorld(output_world, window, output.get());
    return kOfxStatOK;
}

// --- Lifetime.

// Gives back every GL object and thread of the module: the global record's context and
// programs on a module thread, then the threads with what they keep.
void ReleaseGL() {
    auto task = []() noexcept {
        std::lock_guard<std::recursive_mutex> lock(globalMutex);
        if (g_global_record.context) {
            SetCurrentContext(g_global_record.context);
            DeleteGLPrograms(&g_global_record.programs);
            DeleteContext(g_global_record.context);
            g_global_record = LocalGLStruct{};
            SetCurrentContext(nullptr);
        }
    };
    try {
        RunOnModuleThread(task);
        RetireModuleThreads();
    } catch (...) {
        std::fputs("VEXO: the module's threads could not be ended\n", stderr);
    }
}

OfxStatus Load() {
    if (!g_host || !g_host->fetchSuite) return kOfxStatErrMissingHostFeature;
    g_props = static_cast<const OfxPropertySuiteV1*>(
        g_host->fetchSuite(g_host->host, kOfxPropertySuite, 1));
    g_effects = static_cast<const OfxImageEffectSuiteV1*>(
        g_host->fetchSuite(g_host->host, kOfxImageEffectSuite, 1));
    g_params = static_cast<const OfxParameterSuiteV1*>(
        g_host->fetchSuite(g_host->host, kOfxParameterSuite, 1));
    g_messages = static_cast<const OfxMessageSuiteV1*>(
        g_host->fetchSuite(g_host->host, kOfxMessageSuite, 1));
    if (!g_props || !g_effects || !g_params) return kOfxStatErrMissingHostFeature;
    SetDiagnosticSink(DiagnosticToStandardError);
    SetMessageObserver(KeepMessage);
    return kOfxStatOK;
}

OfxStatus Describe(OfxImageEffectHandle effect) {
    OfxPropertySetHandle set = nullptr;
    if (g_effects->getPropertySet(effect, &set) != kOfxStatOK) return kOfxStatErrBadHandle;
    OfxPropertyWriter p{g_props, set};
    p.String(kOfxPropLabel, vexo::kEffectName);
    p.String(kOfxImageEffectPluginPropGrouping, vexo::kCategory);
    p.Int(kOfxPropVersion, vexo::kMajorVersion, 0);
    p.Int(kOfxPropVersion, vexo::kMinorVersion, 1);
    p.String(
        kOfxPropVersionLabel,
        (std::to_string(vexo::kMajorVersion) + "." + std::to_string(vexo::kMinorVersion)).c_str());
    p.String(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextFilter, 0);
    p.String(kOfxImageEffectPropSupportedContexts, kOfxImageEffectContextGeneral, 1);
    p.String(kOfxImageEffectPropSupportedPixelDepths, kOfxBitDepthByte, 0);
    p.String(kOfxImageEffectPropSupportedPixelDepths, kOfxBitDepthShort, 1);
    p.String(kOfxImageEffectPropSupportedPixelDepths, kOfxBitDepthFloat, 2);
    p.Int(kOfxImageEffectPropSupportsMultiResolution, 1);
    p.Int(kOfxImageEffectPropSupportsTiles, 1);
    p.Int(kOfxImageEffectPropTemporalClipAccess, 0);
    p.Int(kOfxImageEffectPropSupportsMultipleClipDepths, 0);
    p.String(kOfxImageEffectPluginRenderThreadSafety, kOfxImageEffectRenderFullySafe);
    // The host may split a frame across its threads; each part renders on a module thread.
    p.Int(kOfxImageEffectPluginPropHostFrameThreading, 1);
    return p.status;
}

OfxStatus DefineClip(OfxImageEffectHandle effect, const char* name, bool optional) {
    OfxPropertySetHandle set = nullptr;
    const OfxStatus status = g_effects->clipDefine(effect, name, &set);
    if (status != kOfxStatOK) return status;
    OfxPropertyWriter p{g_props, set};
    p.String(kOfxImageEffectPropSupportedComponents, kOfxImageComponentRGBA);
    p.Int(kOfxImageEffectPropSupportsTiles, 1);
    p.Int(kOfxImageEffectPropTemporalClipAccess, 0);
    if (optional) p.Int(kOfxImageClipPropOptional, 1);
    return p.status;
}

OfxStatus DescribeInContext(OfxImageEffectHandle effect, OfxPropertySetHandle in_args) {
    char* context = nullptr;
    g_props->propGetString(in_args, kOfxImageEffectPropContext, 0, &context);
    const bool general = context && !std::strcmp(context, kOfxImageEffectContextGeneral);
    if (!general && !(context && !std::strcmp(context, kOfxImageEffectContextFilter))) {
        return kOfxStatErrUnsupported;
    }
    OfxStatus status = DefineClip(effect, kOfxImageEffectSimpleSourceClipName, false);
    if (status == kOfxStatOK && general) status = DefineClip(effect, kMapClipName, true);
    if (status == kOfxStatOK) {
        status = DefineClip(effect, kOfxImageEffectOutputClipName, false);
    }
    if (status != kOfxStatOK) return status;
    OfxParamSetHandle params = nullptr;
    status = g_effects->getParamSet(effect, &params);
    if (status != kOfxStatOK) return status;
    return DefineParams(g_props, g_params, params);
}

// Uniform Scale: one slider drives both axes, and the second is shown disabled.
void ShowUniformScale(const Instance& in, double time) {
    int uniform = 1;
    if (!in.params[kParamUniformScale] ||
        g_params->paramGetValueAtTime(in.params[kParamUniformScale], time, &uniform) != kOfxStatOK)
        return;
    OfxPropertySetHandle x = nullptr, y = nullptr;
    if (in.params[kParamScaleX] &&
        g_params->paramGetPropertySet(in.params[kParamScaleX], &x) == kOfxStatOK) {
        g_props->propSetString(x, kOfxPropLabel, 0, uniform ? "Scale" : "Scale X");
    }
    if (in.params[kParamScaleY] &&
        g_params->paramGetPropertySet(in.params[kParamScaleY], &y) == kOfxStatOK) {
        g_props->propSetInt(y, kOfxParamPropEnabled, 0, uniform ? 0 : 1);
    }
}

OfxStatus CreateInstance(OfxImageEffectHandle effect) {
    OfxPropertySetHandle set = nullptr;
    if (g_effects->getPropertySet(effect, &set) != kOfxStatOK) return kOfxStatErrBadHandle;
    char* context = nullptr;
    g_props->propGetString(set, kOfxImageEffectPropContext, 0, &context);
    auto in = std::make_unique<Instance>();
    in->general = context && !std::strcmp(context, kOfxImageEffectContextGeneral);
    OfxStatus status =
        g_effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &in->source, nullptr);
    if (status == kOfxStatOK) {
        status =
            g_effects->clipGetHandle(effect, kOfxImageEffectOutputClipName, &in->output, nullptr);
    }
    if (status == kOfxStatOK && in->general) {
        status = g_effects->clipGetHandle(effect, kMapClipName, &in->map, nullptr);
    }
    if (status == kOfxStatOK) status = g_effects->getParamSet(effect, &in->param_set);
    for (int i = 0; i < kOfxParamRowCount && status == kOfxStatOK; ++i) {
        const OfxParamRow& row = kOfxParamRows[i];
        status = g_params->paramGetHandle(in->param_set, row.name, &in->params[row.index], nullptr);
    }
    if (status != kOfxStatOK) return status;
    ShowUniformScale(*in, 0);
    status = g_props->propSetPointer(set, kOfxPropInstanceData, 0, in.get());
    if (status != kOfxStatOK) return status;
    in.release();
    std::lock_guard<std::mutex> lock(g_instances_mutex);
    ++g_instances;
    return kOfxStatOK;
}

OfxStatus DestroyInstance(OfxImageEffectHandle effect) {
    delete InstanceOf(effect);
    OfxPropertySetHandle set = nullptr;
    if (g_effects->getPropertySet(effect, &set) == kOfxStatOK) {
        g_props->propSetPointer(set, kOfxPropInstanceData, 0, nullptr);
    }
    bool last = false;
    {
        std::lock_guard<std::mutex> lock(g_instances_mutex);
        if (g_instances > 0) --g_instances;
        last = g_instances == 0;
    }
    // An editor that tried the effect and removed it gets its memory back.
    if (last) ReleaseGL();
    return kOfxStatOK;
}

OfxStatus InstanceChanged(OfxImageEffectHandle effect, OfxPropertySetHandle in_args) {
    Instance* in = InstanceOf(effect);
    if (!in) return kOfxStatErrBadHandle;
    char* type = nullptr;
    char* name = nullptr;
    g_props->propGetString(in_args, kOfxPropType, 0, &type);
    g_props->propGetString(in_args, kOfxPropName, 0, &name);
    const double time = TimeOf(in_args);
    if (!type || !name || std::strcmp(type, kOfxTypeParameter) != 0) return kOfxStatReplyDefault;
    PF_ParamIndex changed = 0;
    for (int i = 0; i < kOfxParamRowCount; ++i) {
        if (!std::strcmp(kOfxParamRows[i].name, name)) changed = kOfxParamRows[i].index;
    }
    if (changed == kParamUniformScale) {
        ShowUniformScale(*in, time);
        return kOfxStatOK;
    }
    const ResetGroup* group = FindResetGroup(changed);
    if (!group) return kOfxStatReplyDefault;
    g_params->paramEditBegin(in->param_set, group->undo_name);
    for (int i = 0; i < group->count; ++i) {
        const PF_ParamIndex index = group->streams[i];
        const ParamRow& row = *FindParamRow(index);
        OfxParamHandle h = in->params[index];
        if (!h) continue;
        // A value set at a time on an animated parameter would add a key; the reset puts the
        // control back as a whole.
        g_params->paramDeleteAllKeys(h);
        switch (row.type) {
            case PF_Param_FLOAT_SLIDER:
            case PF_Param_ANGLE:
                g_params->paramSetValue(h, row.dephault);
                break;
            case PF_Param_POPUP:
                g_params->paramSetValue(h, OptionOfPopupValue(row, int(row.dephault)));
                break;
            case PF_Param_CHECKBOX:
                g_params->paramSetValue(h, row.dephault != 0 ? 1 : 0);
                break;
            default:
                break;
        }
    }
    g_params->paramEditEnd(in->param_set);
    ShowUniformScale(*in, time);
    return kOfxStatOK;
}

OfxStatus Dispatch(const char* action, const void* handle, OfxPropertySetHandle in_args,
                   OfxPropertySetHandle out_args) {
    auto effect = static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
    if (!std::strcmp(action, kOfxActionLoad)) return Load();
    if (!g_props || !g_effects || !g_params) return kOfxStatFailed;
    if (!std::strcmp(action, kOfxActionUnload)) {
        ReleaseGL();
        return kOfxStatOK;
    }
    if (!std::strcmp(action, kOfxActionDescribe)) return Describe(effect);
    if (!std::strcmp(action, kOfxImageEffectActionDescribeInContext)) {
        return DescribeInContext(effect, in_args);
    }
    if (!std::strcmp(action, kOfxActionCreateInstance)) return CreateInstance(effect);
    if (!std::strcmp(action, kOfxActionDestroyInstance)) return DestroyInstance(effect);
    if (!std::strcmp(action, kOfxImageEffectActionGetRegionOfDefinition)) {
        return GetRegionOfDefinition(effect, in_args, out_args);
    }
    if (!std::strcmp(action, kOfxImageEffectActionGetRegionsOfInterest)) {
        return GetRegionsOfInterest(effect, in_args, out_args);
    }
    if (!std::strcmp(action, kOfxImageEffectActionIsIdentity)) {
        return IsIdentity(effect, in_args, out_args);
    }
    if (!std::strcmp(action, kOfxImageEffectActionGetClipPreferences)) {
        return GetClipPreferences(effect, out_args);
    }
    if (!std::strcmp(action, kOfxImageEffectActionRender)) return Render(effect, in_args);
    if (!std::strcmp(action, kOfxActionInstanceChanged)) return InstanceChanged(effect, in_args);
    if (!std::strcmp(action, kOfxActionPurgeCaches)) {
        DropKeptTargetsEverywhere();
        ReleaseGL();
        return kOfxStatOK;
    }
    return kOfxStatReplyDefault;
}

OfxStatus MainEntry(const char* action, const void* handle, OfxPropertySetHandle in_args,
                    OfxPropertySetHandle out_args) {
    if (!action) return kOfxStatErrBadHandle;
    WatchForks();
    const ForkGate gate;
    try {
        return Dispatch(action, handle, in_args, out_args);
    } catch (const std::bad_alloc&) {
        return kOfxStatErrMemory;
    } catch (...) {
        return kOfxStatFailed;
    }
}

void SetHost(OfxHost* host) { g_host = host; }

OfxPlugin g_plugin = {kOfxImageEffectPluginApi,
                      kOfxImageEffectPluginApiVersion,
                      kOfxPluginIdentifier,
                      unsigned(vexo::kMajorVersion),
                      unsigned(vexo::kMinorVersion),
                      SetHost,
                      MainEntry};

}  // namespace

// The header leaves visibility to the build, which hides everything else.
#if defined(_WIN32)
#define VEXO_OFX_ENTRY OfxExport
#else
#define VEXO_OFX_ENTRY OfxExport __attribute__((visibility("default")))
#endif

VEXO_OFX_ENTRY OfxStatus OfxSetHost(const OfxHost* host) {
    g_host = const_cast<OfxHost*>(host);
    return kOfxStatOK;
}

VEXO_OFX_ENTRY int OfxGetNumberOfPlugins(void) { return 1; }

VEXO_OFX_ENTRY OfxPlugin* OfxGetPlugin(int nth) { return nth == 0 ? &g_plugin : nullptr; }
