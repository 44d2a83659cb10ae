// A plug-in that copies Source to Output inside the render window, or breaks one of the API's
// rules as its "mode" parameter says: what the strict host's tests drive.
#include <cstring>

#include "ofxImageEffect.h"
#include "probe_modes.h"

namespace {

OfxHost* g_host = nullptr;
const OfxPropertySuiteV1* g_props = nullptr;
const OfxImageEffectSuiteV1* g_effects = nullptr;
const OfxParameterSuiteV1* g_params = nullptr;

OfxImageEffectHandle Effect(const void* handle) {
    return static_cast<OfxImageEffectHandle>(const_cast<void*>(handle));
}

OfxParamHandle ModeParam(OfxImageEffectHandle effect) {
    OfxParamSetHandle params = nullptr;
    OfxParamHandle mode = nullptr;
    g_effects->getParamSet(effect, &params);
    g_params->paramGetHandle(params, "mode", &mode, nullptr);
    return mode;
}

int Mode(OfxImageEffectHandle effect) {
    int mode = kProbeGood;
    g_params->paramGetValue(ModeParam(effect), &mode);
    return mode;
}

OfxStatus Describe(OfxImageEffectHandle effect) {
    OfxPropertySetHandle props = nullptr;
    g_effects->getPropertySet(effect, &props);
    g_props->propSetString(props, kOfxPropLabel, 0, "Strict host probe");
    g_props->propSetString(props, kOfxImageEffectPropSupportedContexts, 0,
                           kOfxImageEffectContextFilter);
    g_props->propSetString(props, kOfxImageEffectPropSupportedContexts, 1,
                           kOfxImageEffectContextGeneral);
    const char* depths[] = {kOfxBitDepthByte, kOfxBitDepthShort, kOfxBitDepthFloat};
    g_props->propSetStringN(props, kOfxImageEffectPropSupportedPixelDepths, 3, depths);
    g_props->propSetString(props, kOfxImageEffectPluginRenderThreadSafety, 0,
                           kOfxImageEffectRenderFullySafe);
    g_props->propSetInt(props, kOfxImageEffectPluginPropHostFrameThreading, 0, 1);
    return kOfxStatOK;
}

OfxStatus DefineClip(OfxImageEffectHandle effect, const char* name, bool optional) {
    OfxPropertySetHandle clip = nullptr;
    OfxStatus status = g_effects->clipDefine(effect, name, &clip);
    if (status != kOfxStatOK) return status;
    g_props->propSetString(clip, kOfxImageEffectPropSupportedComponents, 0, kOfxImageComponentRGBA);
    g_props->propSetInt(clip, kOfxImageClipPropOptional, 0, optional ? 1 : 0);
    return kOfxStatOK;
}

OfxStatus DescribeInContext(OfxImageEffectHandle effect, OfxPropertySetHandle in_args) {
    char* context = nullptr;
    g_props->propGetString(in_args, kOfxImageEffectPropContext, 0, &context);
    DefineClip(effect, kOfxImageEffectSimpleSourceClipName, false);
    if (std::strcmp(context, kOfxImageEffectContextGeneral) == 0) DefineClip(effect, "Map", true);
    DefineClip(effect, kOfxImageEffectOutputClipName, false);
    OfxParamSetHandle params = nullptr;
    OfxPropertySetHandle mode = nullptr;
    g_effects->getParamSet(effect, &params);
    g_params->paramDefine(params, kOfxParamTypeInteger, "mode", &mode);
    g_props->propSetInt(mode, kOfxParamPropDefault, 0, kProbeGood);
    g_params->paramDefine(params, kOfxParamTypePushButton, "reset", nullptr);
    OfxPropertySetHandle gain = nullptr;
    g_params->paramDefine(params, kOfxParamTypeDouble, "gain", &gain);
    g_props->propSetDouble(gain, kOfxParamPropDefault, 0, 1.0);
    return kOfxStatOK;
}

OfxStatus CreateInstance(OfxImageEffectHandle effect) {
    int mode = Mode(effect);
    if (mode == kProbeDefineParamLate) {
        OfxParamSetHandle params = nullptr;
        g_effects->getParamSet(effect, &params);
        g_params->paramDefine(params, kOfxParamTypeDouble, "late", nullptr);
    } else if (mode == kProbeDefineClipLate) {
        DefineClip(effect, "Late", true);
    } else if (mode == kProbeIntOnDoubleParam) {
        OfxParamSetHandle params = nullptr;
        OfxPropertySetHandle gain = nullptr;
        g_effects->getParamSet(effect, &params);
        g_params->paramGetHandle(params, "gain", nullptr, &gain);
        g_props->propSetInt(gain, kOfxParamPropMax, 0, 2);
    }
    return kOfxStatOK;
}

// "reset" puts the probe back to good behaviour, looking at Source first: both allowed here.
OfxStatus InstanceChanged(OfxImageEffectHandle effect, OfxPropertySetHandle in_args) {
    char* name = nullptr;
    g_props->propGetString(in_args, kOfxPropName, 0, &name);
    if (std::strcmp(name, "reset") != 0) return kOfxStatReplyDefault;
    OfxImageClipHandle source = nullptr;
    OfxPropertySetHandle image = nullptr;
    g_effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &source, nullptr);
    if (g_effects->clipGetImage(source, 0, nullptr, &image) != kOfxStatOK) return kOfxStatFailed;
    g_effects->clipReleaseImage(image);
    return g_params->paramSetValue(ModeParam(effect), kProbeGood);
}

OfxStatus IsIdentity(OfxImageEffectHandle effect, OfxPropertySetHandle out_args) {
    if (Mode(effect) != kProbeIdentity) return kOfxStatReplyDefault;
    g_props->propSetString(out_args, kOfxPropName, 0, kOfxImageEffectSimpleSourceClipName);
    return kOfxStatReplyYes;
}

OfxStatus RegionOfDefinition(OfxImageEffectHandle effect) {
    if (Mode(effect) != kProbeImageOutsideRender) return kOfxStatReplyDefault;
    OfxImageClipHandle source = nullptr;
    OfxPropertySetHandle image = nullptr;
    g_effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &source, nullptr);
    if (g_effects->clipGetImage(source, 0, nullptr, &image) == kOfxStatOK) {
        g_effects->clipReleaseImage(image);
    }
    return kOfxStatReplyDefault;
}

// Source needs exactly the region asked for.
OfxStatus RegionsOfInterest(OfxPropertySetHandle in_args, OfxPropertySetHandle out_args) {
    double region[4] = {};
    g_props->propGetDoubleN(in_args, kOfxImageEffectPropRegionOfInterest, 4, region);
    g_props->propSetDoubleN(out_args, "OfxImageClipPropRoI_Source", 4, region);
    return kOfxStatOK;
}

struct View {
    unsigned char* data = nullptr;
    OfxRectI bounds{};
    int row_bytes = 0;
    int pixel_bytes = 0;

    unsigned char* At(int x, int y) const {
        return data + static_cast<long>(y - bounds.y1) * row_bytes +
               static_cast<long>(x - bounds.x1) * pixel_bytes;
    }
    bool Inside(int x, int y) const {
        return x >= bounds.x1 && x < bounds.x2 && y >= bounds.y1 && y < bounds.y2;
    }
};

View ViewOf(OfxPropertySetHandle image) {
    View view;
    void* data = nullptr;
    char* depth = nullptr;
    g_props->propGetPointer(image, kOfxImagePropData, 0, &data);
    g_props->propGetIntN(image, kOfxImagePropBounds, 4, &view.bounds.x1);
    g_props->propGetInt(image, kOfxImagePropRowBytes, 0, &view.row_bytes);
    g_props->propGetString(image, kOfxImageEffectPropPixelDepth, 0, &depth);
    view.data = static_cast<unsigned char*>(data);
    view.pixel_bytes = std::strcmp(depth, kOfxBitDepthByte) == 0    ? 4
                       : std::strcmp(depth, kOfxBitDepthShort) == 0 ? 8
                                                                    : 16;
    return view;
}

OfxStatus Render(OfxImageEffectHandle effect, OfxPropertySetHandle in_args) {
    int mode = Mode(effect);
    OfxRectI window{};
    g_props->propGetIntN(in_args, kOfxImageEffectPropRenderWindow, 4, &window.x1);
    OfxImageClipHandle source_clip = nullptr, output_clip = nullptr;
    g_effects->clipGetHandle(effect, kOfxImageEffectSimpleSourceClipName, &source_clip, nullptr);
    g_effects->clipGetHandle(effect, kOfxImageEffectOutputClipName, &output_clip, nullptr);

    // The window is in pixels, regions in canonical coordinates: pixels over the render scale.
    double scale[2] = {1, 1};
    g_props->propGetDoubleN(in_args, kOfxImageEffectPropRenderScale, 2, scale);
    OfxRectD region{window.x1 / scale[0], window.y1 / scale[1], window.x2 / scale[0],
                    window.y2 / scale[1]};
    if (mode == kProbeFetchBeyondRoi) {
        region.x1 -= 4;
        region.x2 += 4;
    }
    OfxPropertySetHandle source = nullptr, output = nullptr;
    if (g_effects->clipGetImage(source_clip, 0, &region, &source) != kOfxStatOK) {
        return kOfxStatFailed;
    }
    if (g_effects->clipGetImage(output_clip, 0, nullptr, &output) != kOfxStatOK) {
        g_effects->clipReleaseImage(source);
        return kOfxStatFailed;
    }
    if (mode == kProbeWrongPropertyType) {
        double row_bytes = 0;
        g_props->propGetDouble(source, kOfxImagePropRowBytes, 0, &row_bytes);
    } else if (mode == kProbeIndexBeyondDimension) {
        int x2 = 0;
        g_props->propGetInt(source, kOfxImagePropBounds, 4, &x2);
    } else if (mode == kProbeSetParamInRender) {
        g_params->paramSetValue(ModeParam(effect), kProbeGood);
    }

    View in = ViewOf(source), out = ViewOf(output);
    for (int y = window.y1; y < window.y2; ++y) {
        for (int x = window.x1; x < window.x2; ++x) {
            if (in.Inside(x, y)) {
                std::memcpy(out.At(x, y), in.At(x, y), out.pixel_bytes);
            } else {
                std::memset(out.At(x, y), 0, out.pixel_bytes);
            }
        }
    }
    if (mode == kProbeWriteSource) {
        std::memset(in.At(window.x1, window.y1), 0, in.pixel_bytes);
    } else if (mode == kProbeWriteOutsideImage) {
        *out.At(out.bounds.x2, window.y1) = 0;
    } else if (mode == kProbeWriteOutsideWindow && window.x1 > out.bounds.x1) {
        std::memset(out.At(window.x1 - 1, window.y1), 0, out.pixel_bytes);
    }

    g_effects->clipReleaseImage(output);
    if (mode != kProbeLeakImage) g_effects->clipReleaseImage(source);
    if (mode == kProbeReleaseTwice) g_effects->clipReleaseImage(source);
    return kOfxStatOK;
}

OfxStatus MainEntry(const char* action, const void* handle, OfxPropertySetHandle in_args,
                    OfxPropertySetHandle out_args) {
    OfxImageEffectHandle effect = Effect(handle);
    if (std::strcmp(action, kOfxActionLoad) == 0) {
        g_props = static_cast<const OfxPropertySuiteV1*>(
            g_host->fetchSuite(g_host->host, kOfxPropertySuite, 1));
        g_effects = static_cast<const OfxImageEffectSuiteV1*>(
            g_host->fetchSuite(g_host->host, kOfxImageEffectSuite, 1));
        g_params = static_cast<const OfxParameterSuiteV1*>(
            g_host->fetchSuite(g_host->host, kOfxParameterSuite, 1));
        return g_props && g_effects && g_params ? kOfxStatOK : kOfxStatErrMissingHostFeature;
    }
    if (std::strcmp(action, kOfxActionDescribe) == 0) return Describe(effect);
    if (std::strcmp(action, kOfxImageEffectActionDescribeInContext) == 0) {
        return DescribeInContext(effect, in_args);
    }
    if (std::strcmp(action, kOfxActionCreateInstance) == 0) return CreateInstance(effect);
    if (std::strcmp(action, kOfxActionInstanceChanged) == 0) {
        return InstanceChanged(effect, in_args);
    }
    if (std::strcmp(action, kOfxImageEffectActionIsIdentity) == 0) {
        return IsIdentity(effect, out_args);
    }
    if (std::strcmp(action, kOfxImageEffectActionGetRegionOfDefinition) == 0) {
        return RegionOfDefinition(effect);
    }
    if (std::strcmp(action, kOfxImageEffectActionGetRegionsOfInterest) == 0) {
        return RegionsOfInterest(in_args, out_args);
    }
    if (std::strcmp(action, kOfxImageEffectActionRender) == 0) return Render(effect, in_args);
    return kOfxStatReplyDefault;
}

void SetHost(OfxHost* host) { g_host = host; }

OfxPlugin g_plugin = {kOfxImageEffectPluginApi,
                      kOfxImageEffectPluginApiVersion,
                      "pro.vexorant.StrictHostProbe",
                      1,
                      0,
                      SetHost,
                      MainEntry};

}  // namespace

extern "C" {
__attribute__((visibility("default"))) int OfxGetNumberOfPlugins(void) { return 1; }
__attribute__((visibility("default"))) OfxPlugin* OfxGetPlugin(int nth) {
    return nth == 0 ? &g_plugin : nullptr;
}
}
