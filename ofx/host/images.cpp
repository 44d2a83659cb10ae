// The image-effect suite: clips defined only where they may be, images handed out at the
// session's depth and row order, every fetch and release checked against the action in progress.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "session.h"

namespace vexo::ofxhost {
namespace {

constexpr unsigned char kCanary = 0xA5;

Effect* AsEffect(OfxImageEffectHandle handle) {
    auto* effect = reinterpret_cast<Effect*>(handle);
    return effect != nullptr && effect->magic == Effect{}.magic ? effect : nullptr;
}

Clip* AsClip(OfxImageClipHandle handle) {
    auto* clip = reinterpret_cast<Clip*>(handle);
    return clip != nullptr && clip->magic == Clip{}.magic ? clip : nullptr;
}

std::string ActionName() {
    Scope* scope = CurrentScope();
    return scope != nullptr ? scope->action : "no action";
}

OfxRectI Intersect(const OfxRectI& a, const OfxRectI& b) {
    OfxRectI r{std::max(a.x1, b.x1), std::max(a.y1, b.y1), std::min(a.x2, b.x2),
               std::min(a.y2, b.y2)};
    if (r.x2 < r.x1) r.x2 = r.x1;
    if (r.y2 < r.y1) r.y2 = r.y1;
    return r;
}

OfxRectI PictureRect(const Picture& picture) {
    return {picture.origin_x, picture.origin_y, picture.origin_x + picture.width,
            picture.origin_y + picture.height};
}

bool Contains(const OfxRectD& outer, const OfxRectD& inner) {
    constexpr double kSlack = 1e-6;
    return inner.x1 >= outer.x1 - kSlack && inner.y1 >= outer.y1 - kSlack &&
           inner.x2 <= outer.x2 + kSlack && inner.y2 <= outer.y2 + kSlack;
}

void DescribeImage(Session& session, Image& image, const OfxRectI& bounds, const OfxRectI& rod,
                   void* data, int row_bytes) {
    PropertySet& p = image.props;
    p.what = "image of clip " + image.clip->name;
    p.log = &session.log;
    p.owner = &session;
    SetStrings(p, kOfxPropType, {kOfxTypeImage});
    SetStrings(p, kOfxImageEffectPropPixelDepth, {DepthName(session.options.depth)});
    SetStrings(p, kOfxImageEffectPropComponents, {kOfxImageComponentRGBA});
    // As the clip has it: the output's is the plug-in's clip preference.
    SetStrings(p, kOfxImageEffectPropPreMultiplication,
               {GetString(image.clip->props, kOfxImageEffectPropPreMultiplication, 0,
                          kOfxImagePreMultiplied)});
    const OfxPointD scale = session.options.render_scale;
    SetDoubles(p, kOfxImageEffectPropRenderScale, {scale.x, scale.y});
    SetDoubles(p, kOfxImagePropPixelAspectRatio, {session.options.pixel_aspect});
    SetPointer(p, kOfxImagePropData, data);
    SetInts(p, kOfxImagePropBounds, {bounds.x1, bounds.y1, bounds.x2, bounds.y2});
    SetInts(p, kOfxImagePropRegionOfDefinition, {rod.x1, rod.y1, rod.x2, rod.y2});
    SetInts(p, kOfxImagePropRowBytes, {row_bytes});
    SetStrings(p, kOfxImagePropField, {kOfxImageFieldNone});
    SetStrings(p, kOfxImagePropUniqueIdentifier,
               {image.clip->name + "@" + std::to_string(session.time)});
}

// An input at the session's depth and row order, cut to `bounds`.
void FillInput(Session& session, Image& image, const Picture& picture, OfxRectI bounds) {
    Depth depth = session.options.depth;
    int pb = PixelBytes(depth);
    int width = bounds.x2 - bounds.x1, height = bounds.y2 - bounds.y1;
    long stride = static_cast<long>(width) * pb;
    image.storage.assign(std::max<long>(1, stride * height), 0);
    unsigned char* data = image.storage.data();
    long row_bytes = stride;
    if (session.options.negative_row_bytes) {
        data += stride * std::max(0, height - 1);
        row_bytes = -stride;
    }
    for (int y = bounds.y1; y < bounds.y2; ++y) {
        unsigned char* row = data + (y - bounds.y1) * row_bytes;
        for (int x = bounds.x1; x < bounds.x2; ++x) {
            size_t at = (static_cast<size_t>(y - picture.origin_y) * picture.width +
                         (x - picture.origin_x)) *
                        4;
            StorePixel(depth, &picture.rgba[at], row + static_cast<long>(x - bounds.x1) * pb);
        }
    }
    DescribeImage(session, image, bounds, PictureRect(picture), data, static_cast<int>(row_bytes));
    image.pristine = image.storage;
}

OfxStatus GetPropertySet(OfxImageEffectHandle handle, OfxPropertySetHandle* props) {
    Effect* effect = AsEffect(handle);
    if (effect == nullptr || props == nullptr) return kOfxStatErrBadHandle;
    *props = Handle(effect->props);
    return kOfxStatOK;
}

OfxStatus GetParamSet(OfxImageEffectHandle handle, OfxParamSetHandle* params) {
    Effect* effect = AsEffect(handle);
    if (effect == nullptr || params == nullptr) return kOfxStatErrBadHandle;
    *params = reinterpret_cast<OfxParamSetHandle>(&effect->params);
    return kOfxStatOK;
}

OfxStatus ClipDefine(OfxImageEffectHandle handle, const char* name, OfxPropertySetHandle* props) {
    Effect* effect = AsEffect(handle);
    if (effect == nullptr || name == nullptr) return kOfxStatErrBadHandle;
    std::string action = ActionName();
    if (effect->instance || effect->context.empty() ||
        action != kOfxImageEffectActionDescribeInContext) {
        Violate(&effect->session->log, std::string("clipDefine(\"") + name +
                                           "\") outside the describe-in-context action (in " +
                                           action + ")");
        return kOfxStatFailed;
    }
    if (effect->clips.count(name) != 0) {
        Violate(&effect->session->log, std::string("clipDefine(\"") + name + "\"): defined twice");
        return kOfxStatErrExists;
    }
    auto clip = std::make_unique<Clip>();
    clip->name = name;
    clip->owner = effect;
    clip->props.what = std::string("clip descriptor ") + name;
    clip->props.open = true;
    clip->props.log = &effect->session->log;
    SetStrings(clip->props, kOfxPropType, {kOfxTypeClip});
    SetStrings(clip->props, kOfxPropName, {name});
    if (props != nullptr) *props = Handle(clip->props);
    effect->clip_order.push_back(name);
    effect->clips[name] = std::move(clip);
    return kOfxStatOK;
}

OfxStatus ClipGetHandle(OfxImageEffectHandle handle, const char* name, OfxImageClipHandle* clip,
                        OfxPropertySetHandle* props) {
    Effect* effect = AsEffect(handle);
    if (effect == nullptr || name == nullptr) return kOfxStatErrBadHandle;
    auto found = effect->clips.find(name);
    if (found == effect->clips.end()) return kOfxStatErrUnknown;
    if (clip != nullptr) *clip = reinterpret_cast<OfxImageClipHandle>(found->second.get());
    if (props != nullptr) *props = Handle(found->second->props);
    return kOfxStatOK;
}

OfxStatus ClipGetPropertySet(OfxImageClipHandle handle, OfxPropertySetHandle* props) {
    Clip* clip = AsClip(handle);
    if (clip == nullptr || props == nullptr) return kOfxStatErrBadHandle;
    *props = Handle(clip->props);
    return kOfxStatOK;
}

OfxStatus ClipGetImage(OfxImageClipHandle handle, OfxTime, const OfxRectD* region,
                       OfxPropertySetHandle* out) {
    Clip* clip = AsClip(handle);
    if (clip == nullptr || out == nullptr || !clip->owner->instance) return kOfxStatErrBadHandle;
    Session& session = *clip->owner->session;
    Scope* scope = CurrentScope();
    std::string action = ActionName();
    std::string call = "clipGetImage(\"" + clip->name + "\")";
    bool rendering = action == kOfxImageEffectActionRender;
    if (!rendering && action != kOfxActionInstanceChanged) {
        Violate(&session.log,
                call + " outside the render and instance-changed actions (in " + action + ")");
        return kOfxStatFailed;
    }
    bool output = clip->name == kOfxImageEffectOutputClipName;
    if (output && !rendering) return kOfxStatFailed;
    auto image = std::make_unique<Image>();
    image->clip = clip;
    image->scope = scope;
    if (output) {
        const OutputBuffer& buffer = session.output;
        DescribeImage(session, *image, buffer.bounds, ToPixels(session, session.rod), buffer.data,
                      buffer.row_bytes);
    } else {
        auto input = session.inputs.find(clip->name);
        if (input == session.inputs.end()) return kOfxStatFailed;
        const Picture& picture = input->second;
        OfxRectI whole = PictureRect(picture);
        OfxRectD asked = region != nullptr ? *region : ToCanonical(session, whole);
        if (rendering) {
            auto declared = session.rois.find(clip->name);
            OfxRectD roi = declared != session.rois.end() ? declared->second : session.rod;
            if (region == nullptr) {
                asked = roi;
            } else if (!Contains(roi, *region)) {
                Violate(&session.log, call + " for " + RectText(*region) +
                                          ", outside the region of interest " + RectText(roi) +
                                          " declared for that clip");
                return kOfxStatFailed;
            }
        }
        FillInput(
            session, *image, picture,
            session.options.whole_inputs ? whole : Intersect(ToPixels(session, asked), whole));
    }
    *out = Handle(image->props);
    std::lock_guard<std::mutex> lock(session.images_mutex);
    if (scope != nullptr) {
        std::lock_guard<std::mutex> scope_lock(scope->mutex);
        scope->images.push_back(image.get());
    }
    session.live_images[&image->props] = std::move(image);
    return kOfxStatOK;
}

OfxStatus ClipReleaseImage(OfxPropertySetHandle handle) {
    PropertySet* props = FromHandle(handle);
    if (props == nullptr || props->log == nullptr) return kOfxStatErrBadHandle;
    Log* log = props->log;
    auto* session = static_cast<Session*>(props->owner);
    if (session == nullptr) {
        Violate(log, "clipReleaseImage: " + props->what + " is not an image");
        return kOfxStatErrBadHandle;
    }
    std::lock_guard<std::mutex> lock(session->images_mutex);
    auto found = session->live_images.find(props);
    if (found == session->live_images.end()) {
        for (const auto& gone : session->released_images) {
            if (&gone->props == props) {
                Violate(log, "clipReleaseImage: " + props->what + " released twice");
                return kOfxStatErrBadHandle;
            }
        }
        Violate(log, "clipReleaseImage: " + props->what + " is not an image");
        return kOfxStatErrBadHandle;
    }
    Image* image = found->second.get();
    if (image->scope != nullptr) {
        std::lock_guard<std::mutex> scope_lock(image->scope->mutex);
        auto& list = image->scope->images;
        list.erase(std::remove(list.begin(), list.end(), image), list.end());
    }
    RetireImage(*session, image);
    return kOfxStatOK;
}

OfxStatus ClipGetRegionOfDefinition(OfxImageClipHandle handle, OfxTime, OfxRectD* bounds) {
    Clip* clip = AsClip(handle);
    if (clip == nullptr || bounds == nullptr || !clip->owner->instance) {
        return kOfxStatErrBadHandle;
    }
    Session& session = *clip->owner->session;
    auto input = session.inputs.find(clip->name);
    if (input != session.inputs.end()) {
        *bounds = ToCanonical(session, PictureRect(input->second));
    } else {
        *bounds = session.rod;
    }
    return kOfxStatOK;
}

int Abort(OfxImageEffectHandle) { return 0; }

struct Memory {
    std::vector<unsigned char> bytes;
};

OfxStatus ImageMemoryAlloc(OfxImageEffectHandle, size_t bytes, OfxImageMemoryHandle* memory) {
    if (memory == nullptr) return kOfxStatErrBadHandle;
    auto* block = new Memory;
    block->bytes.resize(std::max<size_t>(1, bytes));
    *memory = reinterpret_cast<OfxImageMemoryHandle>(block);
    return kOfxStatOK;
}

OfxStatus ImageMemoryFree(OfxImageMemoryHandle memory) {
    delete reinterpret_cast<Memory*>(memory);
    return kOfxStatOK;
}

OfxStatus ImageMemoryLock(OfxImageMemoryHandle memory, void** data) {
    if (memory == nullptr || data == nullptr) return kOfxStatErrBadHandle;
    *data = reinterpret_cast<Memory*>(memory)->bytes.data();
    return kOfxStatOK;
}

OfxStatus ImageMemoryUnlock(OfxImageMemoryHandle memory) {
    return memory != nullptr ? kOfxStatOK : kOfxStatErrBadHandle;
}

const OfxImageEffectSuiteV1 kSuite = {
    GetPropertySet,
    GetParamSet,
    ClipDefine,
    ClipGetHandle,
    ClipGetPropertySet,
    ClipGetImage,
    ClipReleaseImage,
    ClipGetRegionOfDefinition,
    Abort,
    ImageMemoryAlloc,
    ImageMemoryFree,
    ImageMemoryLock,
    ImageMemoryUnlock,
};

}  // namespace

void RetireImage(Session& session, Image* image) {
    if (image->storage != image->pristine) {
        Violate(&session.log, image->props.what + ", an input, was written to");
    }
    // The pixels go; the record stays so that its handle is never handed out again.
    std::vector<unsigned char>().swap(image->storage);
    std::vector<unsigned char>().swap(image->pristine);
    image->scope = nullptr;
    auto found = session.live_images.find(&image->props);
    session.released_images.push_back(std::move(found->second));
    session.live_images.erase(found);
}

const void* ImageEffectSuite() { return &kSuite; }

int PixelBytes(Depth depth) { return depth == Depth::Byte ? 4 : depth == Depth::Short ? 8 : 16; }

const char* DepthName(Depth depth) {
    return depth == Depth::Byte    ? kOfxBitDepthByte
           : depth == Depth::Short ? kOfxBitDepthShort
                                   : kOfxBitDepthFloat;
}

void StorePixel(Depth depth, const float* rgba, unsigned char* out) {
    for (int c = 0; c < 4; ++c) {
        float v = std::clamp(rgba[c], 0.0f, 1.0f);
        if (depth == Depth::Byte) {
            out[c] = static_cast<unsigned char>(std::lround(v * 255.0f));
        } else if (depth == Depth::Short) {
            auto s = static_cast<unsigned short>(std::lround(v * 65535.0f));
            std::memcpy(out + 2 * c, &s, 2);
        }
    }
    if (depth == Depth::Float) std::memcpy(out, rgba, 16);
}

void LoadPixel(Depth depth, const unsigned char* in, float* rgba) {
    for (int c = 0; c < 4; ++c) {
        if (depth == Depth::Byte) {
            rgba[c] = in[c] / 255.0f;
        } else if (depth == Depth::Short) {
            unsigned short s = 0;
            std::memcpy(&s, in + 2 * c, 2);
            rgba[c] = s / 65535.0f;
        }
    }
    if (depth == Depth::Float) std::memcpy(rgba, in, 16);
}

void PrepareOutput(Session& session, const OfxRectI& bounds) {
    OutputBuffer& out = session.output;
    out.bounds = bounds;
    out.pixel_bytes = PixelBytes(session.options.depth);
    int width = bounds.x2 - bounds.x1, height = bounds.y2 - bounds.y1;
    // Two pixels of canary after each row, two rows' worth before and after the image.
    out.stride = static_cast<long>(width + 2) * out.pixel_bytes;
    out.guard = 2 * out.stride;
    out.storage.assign(2 * out.guard + out.stride * height, kCanary);
    out.data = out.storage.data() + out.guard;
    out.row_bytes = static_cast<int>(out.stride);
    if (session.options.negative_row_bytes) {
        out.data += out.stride * std::max(0, height - 1);
        out.row_bytes = -out.row_bytes;
    }
}

std::string CheckOutputCanaries(const Session& session, const OfxRectI& window) {
    const OutputBuffer& out = session.output;
    int width = out.bounds.x2 - out.bounds.x1, height = out.bounds.y2 - out.bounds.y1;
    long pixels_end = out.guard + out.stride * height;
    for (size_t i = 0; i < out.storage.size(); ++i) {
        if (out.storage[i] == kCanary) continue;
        long at = static_cast<long>(i);
        long column = (at - out.guard) % out.stride;
        if (at < out.guard || at >= pixels_end || column >= long(width) * out.pixel_bytes) {
            return "render wrote outside the output image (bounds " + RectText(out.bounds) + "), " +
                   std::to_string(at - (out.data - out.storage.data())) +
                   " bytes from its data pointer";
        }
        long row = (at - out.guard) / out.stride;
        int y = session.options.negative_row_bytes ? out.bounds.y2 - 1 - static_cast<int>(row)
                                                   : out.bounds.y1 + static_cast<int>(row);
        int x = out.bounds.x1 + static_cast<int>(column / out.pixel_bytes);
        if (x < window.x1 || x >= window.x2 || y < window.y1 || y >= window.y2) {
            return "render wrote pixel (" + std::to_string(x) + ", " + std::to_string(y) +
                   ") outside the render window " + RectText(window);
        }
    }
    return "";
}

// Canonical x is pixels widened by the pixel aspect ratio, then both axes divided by the scale.
OfxRectI ToPixels(const Session& session, const OfxRectD& r) {
    const OfxPointD s = session.options.render_scale;
    const double sx = s.x / session.options.pixel_aspect;
    return {static_cast<int>(std::floor(r.x1 * sx)), static_cast<int>(std::floor(r.y1 * s.y)),
            static_cast<int>(std::ceil(r.x2 * sx)), static_cast<int>(std::ceil(r.y2 * s.y))};
}

OfxRectD ToCanonical(const Session& session, const OfxRectI& r) {
    const OfxPointD s = session.options.render_scale;
    const double sx = s.x / session.options.pixel_aspect;
    return {r.x1 / sx, r.y1 / s.y, r.x2 / sx, r.y2 / s.y};
}

std::string RectText(const OfxRectD& r) {
    char text[128];
    std::snprintf(text, sizeof text, "(%g, %g)-(%g, %g)", r.x1, r.y1, r.x2, r.y2);
    return text;
}

std::string RectText(const OfxRectI& r) {
    char text[128];
    std::snprintf(text, sizeof text, "(%d, %d)-(%d, %d)", r.x1, r.y1, r.x2, r.y2);
    return text;
}

}  // namespace vexo::ofxhost
