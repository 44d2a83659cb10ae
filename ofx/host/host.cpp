// Loading a bundle and running its actions in the order a host runs them.
#include "host.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "library.h"
#include "session.h"

namespace vexo::ofxhost {
namespace {

std::unique_ptr<PropertySet> Args(Session& session, const std::string& what) {
    auto args = std::make_unique<PropertySet>();
    args->what = what;
    args->log = &session.log;
    return args;
}

void Fail(std::string* error, const std::string& text) {
    if (error != nullptr) *error = text;
}

bool Accepted(OfxStatus status) { return status == kOfxStatOK || status == kOfxStatReplyDefault; }

void FillHostProps(PropertySet& p) {
    p.what = "the host";
    SetStrings(p, kOfxPropType, {kOfxTypeImageEffectHost});
    SetStrings(p, kOfxPropName, {"pro.vexorant.StrictTestHost"});
    SetStrings(p, kOfxPropLabel, {"Vexorant strict test host"});
    SetInts(p, kOfxPropAPIVersion, {1, 4});
    SetInts(p, kOfxPropVersion, {1, 0, 0});
    SetStrings(p, kOfxPropVersionLabel, {"1.0"});
    SetInts(p, kOfxImageEffectHostPropIsBackground, {1});
    SetInts(p, kOfxImageEffectPropSupportsOverlays, {0});
    SetInts(p, kOfxImageEffectPropSupportsMultiResolution, {1});
    SetInts(p, kOfxImageEffectPropSupportsTiles, {1});
    SetInts(p, kOfxImageEffectPropTemporalClipAccess, {0});
    SetStrings(p, kOfxImageEffectPropSupportedComponents, {kOfxImageComponentRGBA});
    SetStrings(p, kOfxImageEffectPropSupportedContexts,
               {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral});
    SetInts(p, kOfxImageEffectPropSupportsMultipleClipDepths, {0});
    SetInts(p, kOfxImageEffectPropSupportsMultipleClipPARs, {0});
    SetInts(p, kOfxImageEffectPropSetableFrameRate, {0});
    SetInts(p, kOfxImageEffectPropSetableFielding, {0});
    SetInts(p, kOfxImageEffectInstancePropSequentialRender, {0});
    SetStrings(p, kOfxImageEffectHostPropNativeOrigin, {kOfxHostNativeOriginBottomLeft});
    SetInts(p, kOfxParamHostPropSupportsCustomAnimation, {0});
    SetInts(p, kOfxParamHostPropSupportsStringAnimation, {0});
    SetInts(p, kOfxParamHostPropSupportsBooleanAnimation, {0});
    SetInts(p, kOfxParamHostPropSupportsChoiceAnimation, {0});
    SetInts(p, kOfxParamHostPropSupportsCustomInteract, {0});
    SetInts(p, kOfxParamHostPropMaxParameters, {-1});
    SetInts(p, kOfxParamHostPropMaxPages, {0});
    SetInts(p, kOfxParamHostPropPageRowColumnCount, {0, 0});
}

void FillClipInstance(Session& session, const Clip& descriptor, Clip& clip, const Picture* input) {
    const Options& o = session.options;
    PropertySet& p = clip.props;
    p.what = "clip " + clip.name;
    p.log = &session.log;
    CopyValues(descriptor.props, p);
    const char* premult = o.premultiplied ? kOfxImagePreMultiplied : kOfxImageUnPreMultiplied;
    bool output = clip.name == kOfxImageEffectOutputClipName;
    double frames = 1;
    SetStrings(p, kOfxImageEffectPropPixelDepth, {DepthName(o.depth)});
    SetStrings(p, kOfxImageEffectPropComponents, {kOfxImageComponentRGBA});
    SetStrings(p, kOfxImageClipPropUnmappedPixelDepth, {DepthName(o.depth)});
    SetStrings(p, kOfxImageClipPropUnmappedComponents, {kOfxImageComponentRGBA});
    SetStrings(p, kOfxImageEffectPropPreMultiplication, {premult});
    SetDoubles(p, kOfxImagePropPixelAspectRatio, {o.pixel_aspect});
    SetDoubles(p, kOfxImageEffectPropFrameRate, {25.0});
    SetDoubles(p, kOfxImageEffectPropUnmappedFrameRate, {25.0});
    SetDoubles(p, kOfxImageEffectPropFrameRange, {0.0, frames - 1});
    SetDoubles(p, kOfxImageEffectPropUnmappedFrameRange, {0.0, frames - 1});
    SetStrings(p, kOfxImageClipPropFieldOrder, {kOfxImageFieldNone});
    SetInts(p, kOfxImageClipPropConnected, {output || input != nullptr ? 1 : 0});
    SetInts(p, kOfxImageClipPropContinuousSamples, {0});
}

void FillInstance(Session& session, Effect& e) {
    PropertySet& p = e.props;
    p.what = "the effect instance";
    p.log = &session.log;
    double width = 0, height = 0;
    auto source = session.inputs.find(kOfxImageEffectSimpleSourceClipName);
    if (source != session.inputs.end()) {
        // The project is the source's size in canonical coordinates.
        width =
            source->second.width * session.options.pixel_aspect / session.options.render_scale.x;
        height = source->second.height / session.options.render_scale.y;
    }
    SetStrings(p, kOfxPropType, {kOfxTypeImageEffectInstance});
    SetStrings(p, kOfxImageEffectPropContext, {e.context});
    SetPointer(p, kOfxPropInstanceData, nullptr);
    SetDoubles(p, kOfxImageEffectPropProjectSize, {width, height});
    SetDoubles(p, kOfxImageEffectPropProjectOffset, {0.0, 0.0});
    SetDoubles(p, kOfxImageEffectPropProjectExtent, {width, height});
    SetDoubles(p, kOfxImageEffectPropProjectPixelAspectRatio, {session.options.pixel_aspect});
    SetDoubles(p, kOfxImageEffectInstancePropEffectDuration, {1.0});
    SetDoubles(p, kOfxImageEffectPropFrameRate, {25.0});
    SetInts(p, kOfxImageEffectInstancePropSequentialRender, {0});
    SetInts(p, kOfxImageEffectPropSupportsTiles, {1});
    SetInts(p, kOfxPropIsInteractive, {0});
}

void SetScale(const Session& session, PropertySet& args) {
    const OfxPointD scale = session.options.render_scale;
    SetDoubles(args, kOfxImageEffectPropRenderScale, {scale.x, scale.y});
}

void SetRenderArgs(const Session& session, PropertySet& args, OfxTime time) {
    SetDoubles(args, kOfxPropTime, {time});
    SetScale(session, args);
}

void SetSequenceArgs(const Session& session, PropertySet& args, OfxTime time) {
    SetDoubles(args, kOfxImageEffectPropFrameRange, {time, time});
    SetDoubles(args, kOfxImageEffectPropFrameStep, {1.0});
    SetInts(args, kOfxPropIsInteractive, {0});
    SetScale(session, args);
    SetInts(args, kOfxImageEffectPropSequentialRenderStatus, {0});
    SetInts(args, kOfxImageEffectPropInteractiveRenderStatus, {0});
}

// The frame's window, converted at the session's depth, from the output buffer or (for an
// identity) the input it names.
void ReadFrame(Session& session, const OfxRectI& window, const Picture* identity, Frame* frame) {
    Depth depth = session.options.depth;
    int pb = PixelBytes(depth);
    int width = window.x2 - window.x1, height = window.y2 - window.y1;
    frame->window = window;
    frame->picture = Picture{width, height, window.x1, window.y1, {}};
    frame->picture.rgba.assign(static_cast<size_t>(width) * height * 4, 0.0f);
    frame->raw.assign(static_cast<size_t>(width) * height * pb, 0);
    const OutputBuffer& out = session.output;
    for (int y = window.y1; y < window.y2; ++y) {
        for (int x = window.x1; x < window.x2; ++x) {
            size_t at = static_cast<size_t>(y - window.y1) * width + (x - window.x1);
            unsigned char* raw = &frame->raw[at * pb];
            if (identity != nullptr) {
                const Picture& in = *identity;
                bool inside = x >= in.origin_x && x < in.origin_x + in.width && y >= in.origin_y &&
                              y < in.origin_y + in.height;
                float zero[4] = {0, 0, 0, 0};
                const float* src = inside
                                       ? &in.rgba[(static_cast<size_t>(y - in.origin_y) * in.width +
                                                   (x - in.origin_x)) *
                                                  4]
                                       : zero;
                StorePixel(depth, src, raw);
            } else {
                const unsigned char* src = out.data +
                                           static_cast<long>(y - out.bounds.y1) * out.row_bytes +
                                           static_cast<long>(x - out.bounds.x1) * pb;
                std::memcpy(raw, src, pb);
            }
            LoadPixel(depth, raw, &frame->picture.rgba[at * 4]);
        }
    }
}

size_t ViolationCount(Session& session) {
    std::lock_guard<std::mutex> lock(session.log.mutex);
    return session.log.violations.size();
}

}  // namespace

OfxStatus CallAction(Session& session, const char* action, const void* handle, PropertySet* in_args,
                     PropertySet* out_args) {
    Scope scope;
    scope.action = action;
    Scope* outer = CurrentScope();
    SetCurrentScope(&scope);
    OfxStatus status =
        session.plugin->mainEntry(action, handle, in_args ? Handle(*in_args) : nullptr,
                                  out_args ? Handle(*out_args) : nullptr);
    SetCurrentScope(outer);
    std::lock_guard<std::mutex> lock(session.images_mutex);
    for (Image* image : scope.images) {
        Violate(&session.log, image->props.what + ", fetched in " + action +
                                  ", was not released by the action's end");
        RetireImage(session, image);
    }
    return status;
}

void SessionDeleter::operator()(Session* session) const {
    if (session == nullptr) return;
    Close(*session);
    delete session;
}

SessionPtr OpenBundle(const std::string& bundle_dir, const Options& options, std::string* error) {
    SessionPtr session(new Session);
    Session& s = *session;
    s.options = options;
    std::string dir = bundle_dir;
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    std::string leaf = dir.substr(dir.find_last_of('/') + 1);
    const std::string suffix = ".ofx.bundle";
    if (leaf.size() <= suffix.size() ||
        leaf.compare(leaf.size() - suffix.size(), suffix.size(), suffix) != 0) {
        Fail(error, dir + " is not a NAME.ofx.bundle folder");
        return nullptr;
    }
    s.bundle_dir = dir;
    s.binary_path = dir + "/Contents/" + kBinaryFolder + "/" +
                    leaf.substr(0, leaf.size() - suffix.size()) + ".ofx";
    std::string why;
    s.library = OpenLibrary(s.binary_path, &why);
    if (s.library == nullptr) {
        Fail(error, why);
        return nullptr;
    }
    using SetHostFn = OfxStatus (*)(const OfxHost*);
    using CountFn = int (*)();
    using GetFn = OfxPlugin* (*)(int);
    auto set_host = reinterpret_cast<SetHostFn>(FindSymbol(s.library, "OfxSetHost"));
    auto count = reinterpret_cast<CountFn>(FindSymbol(s.library, "OfxGetNumberOfPlugins"));
    auto get = reinterpret_cast<GetFn>(FindSymbol(s.library, "OfxGetPlugin"));
    if (count == nullptr || get == nullptr) {
        Fail(error, s.binary_path + " exports no OfxGetNumberOfPlugins or OfxGetPlugin");
        return nullptr;
    }
    s.host_props.log = &s.log;
    FillHostProps(s.host_props);
    s.host.host = Handle(s.host_props);
    s.host.fetchSuite = FetchSuite;
    if (set_host != nullptr && set_host(&s.host) == kOfxStatFailed) {
        Fail(error, "OfxSetHost asked the host to skip the binary");
        return nullptr;
    }
    for (int i = 0, n = count(); i < n && s.plugin == nullptr; ++i) {
        OfxPlugin* plugin = get(i);
        if (plugin != nullptr &&
            (options.plugin_id.empty() || (plugin->pluginIdentifier != nullptr &&
                                           options.plugin_id == plugin->pluginIdentifier))) {
            s.plugin = plugin;
        }
    }
    if (s.plugin == nullptr) {
        Fail(error, "the binary has no plug-in " + options.plugin_id);
        return nullptr;
    }
    if (s.plugin->pluginApi == nullptr ||
        std::strcmp(s.plugin->pluginApi, kOfxImageEffectPluginApi) != 0 ||
        s.plugin->apiVersion != kOfxImageEffectPluginApiVersion || s.plugin->mainEntry == nullptr) {
        Fail(error, "the plug-in is not an image effect of API version 1");
        s.plugin = nullptr;
        return nullptr;
    }
    if (s.plugin->setHost != nullptr) s.plugin->setHost(&s.host);

    if (!Accepted(CallAction(s, kOfxActionLoad, nullptr, nullptr, nullptr))) {
        Fail(error, "the load action failed");
        return nullptr;
    }
    s.loaded = true;

    Effect& d = s.descriptor;
    d.session = &s;
    d.props.what = "the effect descriptor";
    d.props.open = true;
    d.props.log = &s.log;
    d.params.owner = &d;
    SetStrings(d.props, kOfxPropType, {kOfxTypeImageEffect});
    SetStrings(d.props, kOfxPluginPropFilePath, {s.bundle_dir});
    if (CallAction(s, kOfxActionDescribe, &d, nullptr, nullptr) != kOfxStatOK) {
        Fail(error, "the describe action failed");
        return nullptr;
    }
    std::vector<std::string> contexts = GetStrings(d.props, kOfxImageEffectPropSupportedContexts);
    if (std::find(contexts.begin(), contexts.end(), options.context) == contexts.end()) {
        Fail(error, "the plug-in has no context " + options.context);
        return nullptr;
    }
    std::vector<std::string> depths = GetStrings(d.props, kOfxImageEffectPropSupportedPixelDepths);
    if (std::find(depths.begin(), depths.end(), DepthName(options.depth)) == depths.end()) {
        Fail(error, std::string("the plug-in does not support ") + DepthName(options.depth));
        return nullptr;
    }
    for (const char* context : {kOfxImageEffectContextFilter, kOfxImageEffectContextGeneral}) {
        if (std::find(contexts.begin(), contexts.end(), context) == contexts.end()) continue;
        auto effect = std::make_unique<Effect>();
        effect->session = &s;
        effect->context = context;
        effect->props.what = std::string("the descriptor in context ") + context;
        effect->props.open = true;
        effect->props.log = &s.log;
        effect->params.owner = effect.get();
        effect->params.props.open = true;
        effect->params.props.log = &s.log;
        effect->params.props.what = "the parameter set";
        CopyValues(d.props, effect->props);
        auto in = Args(s, "describe-in-context inArgs");
        SetStrings(*in, kOfxImageEffectPropContext, {context});
        if (CallAction(s, kOfxImageEffectActionDescribeInContext, effect.get(), in.get(),
                       nullptr) != kOfxStatOK) {
            Fail(error, std::string("describe in context ") + context + " failed");
            return nullptr;
        }
        s.contexts[context] = std::move(effect);
    }
    std::vector<std::string> broken = Violations(s);
    if (!broken.empty()) {
        std::string text = "the plug-in broke the API's rules:";
        for (const std::string& each : broken) text += "\n  " + each;
        Fail(error, text);
        return nullptr;
    }
    return session;
}

void SetInput(Session& session, const std::string& clip, const Picture& picture) {
    session.inputs[clip] = picture;
}

namespace {

// This host offers one depth to every clip and RGBA only, and takes the output's
// premultiplication from the plug-in: a clip asked for anything else is a broken rule.
void HonourClipPreferences(Session& s, const PropertySet& out) {
    Effect& e = *s.instance;
    for (const std::string& name : e.clip_order) {
        Clip& clip = *e.clips.at(name);
        std::string depth = GetString(out, "OfxImageClipPropDepth_" + name, 0, "");
        if (!depth.empty() && depth != DepthName(s.options.depth)) {
            Violate(&s.log, "clip preferences: " + name + " asked at " + depth + ", but the host " +
                                "declared one depth for all clips, " + DepthName(s.options.depth));
        }
        std::string components = GetString(out, "OfxImageClipPropComponents_" + name, 0, "");
        std::vector<std::string> supported =
            GetStrings(clip.props, kOfxImageEffectPropSupportedComponents);
        if (!components.empty() &&
            (components != kOfxImageComponentRGBA ||
             std::find(supported.begin(), supported.end(), components) == supported.end())) {
            Violate(&s.log, "clip preferences: " + name + " asked as " + components +
                                ", which the host or the clip does not support");
        }
    }
    std::string premult = GetString(out, kOfxImageEffectPropPreMultiplication, 0, "");
    if (premult != kOfxImageOpaque && premult != kOfxImagePreMultiplied &&
        premult != kOfxImageUnPreMultiplied) {
        Violate(&s.log, "clip preferences: no premultiplication state \"" + premult + "\"");
        return;
    }
    SetStrings(e.clips.at(kOfxImageEffectOutputClipName)->props,
               kOfxImageEffectPropPreMultiplication, {premult});
}

}  // namespace

OfxStatus CreateInstance(Session& s) {
    size_t violations_before = ViolationCount(s);
    auto found = s.contexts.find(s.options.context);
    if (found == s.contexts.end() || s.instance) return kOfxStatFailed;
    const Effect& d = *found->second;
    auto e = std::make_unique<Effect>();
    e->session = &s;
    e->instance = true;
    e->context = d.context;
    e->params.owner = e.get();
    e->params.props.what = "the parameter set";
    e->params.props.log = &s.log;
    FillInstance(s, *e);
    for (const std::string& name : d.clip_order) {
        auto clip = std::make_unique<Clip>();
        clip->name = name;
        clip->owner = e.get();
        auto input = s.inputs.find(name);
        FillClipInstance(s, *d.clips.at(name), *clip,
                         input != s.inputs.end() ? &input->second : nullptr);
        e->clip_order.push_back(name);
        e->clips[name] = std::move(clip);
    }
    InstantiateParams(s, d.params, e->params);
    s.instance = std::move(e);
    OfxStatus status = CallAction(s, kOfxActionCreateInstance, s.instance.get(), nullptr, nullptr);
    if (!Accepted(status)) {
        s.instance.reset();
        return status;
    }
    // Per-clip entries are the plug-in's to add.
    auto out = Args(s, "clip preferences outArgs");
    out->open = true;
    SetDoubles(*out, kOfxImageEffectPropFrameRate, {25.0});
    SetStrings(*out, kOfxImageEffectPropPreMultiplication,
               {s.options.premultiplied ? kOfxImagePreMultiplied : kOfxImageUnPreMultiplied});
    SetStrings(*out, kOfxImageClipPropFieldOrder, {kOfxImageFieldNone});
    SetInts(*out, kOfxImageClipPropContinuousSamples, {0});
    SetInts(*out, kOfxImageEffectFrameVarying, {0});
    status = CallAction(s, kOfxImageEffectActionGetClipPreferences, s.instance.get(), nullptr,
                        out.get());
    if (!Accepted(status)) return status;
    if (status == kOfxStatOK) HonourClipPreferences(s, *out);
    return ViolationCount(s) == violations_before ? kOfxStatOK : kOfxStatFailed;
}

namespace {

OfxStatus Changed(Session& s, const std::string& name, OfxTime time) {
    auto reason = Args(s, "instance-changed inArgs");
    SetStrings(*reason, kOfxPropChangeReason, {kOfxChangeUserEdited});
    auto in = Args(s, "instance-changed inArgs");
    SetStrings(*in, kOfxPropType, {kOfxTypeParameter});
    SetStrings(*in, kOfxPropName, {name});
    SetStrings(*in, kOfxPropChangeReason, {kOfxChangeUserEdited});
    SetDoubles(*in, kOfxPropTime, {time});
    SetScale(s, *in);
    s.time = time;
    size_t violations_before = ViolationCount(s);
    OfxStatus begin =
        CallAction(s, kOfxActionBeginInstanceChanged, s.instance.get(), reason.get(), nullptr);
    OfxStatus status =
        CallAction(s, kOfxActionInstanceChanged, s.instance.get(), in.get(), nullptr);
    OfxStatus end =
        CallAction(s, kOfxActionEndInstanceChanged, s.instance.get(), reason.get(), nullptr);
    for (OfxStatus each : {begin, status, end}) {
        if (!Accepted(each)) return each;
    }
    return ViolationCount(s) == violations_before ? kOfxStatOK : kOfxStatFailed;
}

}  // namespace

OfxStatus SetParam(Session& s, const std::string& name, OfxTime time, const ParamValue& value) {
    if (!s.instance) {
        s.preset_values.emplace_back(name, time, value);
        return kOfxStatOK;
    }
    auto found = s.instance->params.params.find(name);
    if (found == s.instance->params.params.end()) return kOfxStatErrUnknown;
    AssignParam(*found->second, time, value);
    return Changed(s, name, time);
}

OfxStatus PressButton(Session& s, const std::string& name, OfxTime time) {
    if (!s.instance || s.instance->params.params.count(name) == 0) return kOfxStatErrUnknown;
    return Changed(s, name, time);
}

ParamValue GetParam(const Session& s, const std::string& name) {
    if (s.instance) {
        auto found = s.instance->params.params.find(name);
        if (found != s.instance->params.params.end()) return ParamValueAt(*found->second, s.time);
    }
    for (auto preset = s.preset_values.rbegin(); preset != s.preset_values.rend(); ++preset) {
        if (std::get<0>(*preset) == name) return std::get<2>(*preset);
    }
    return ParamValue{};
}

OfxStatus RenderFrame(Session& s, OfxTime time, const OfxRectI& window, Frame* frame) {
    if (!s.instance || frame == nullptr) return kOfxStatFailed;
    Effect* e = s.instance.get();
    size_t violations_before = ViolationCount(s);
    s.time = time;
    *frame = Frame{};

    auto sequence = Args(s, "sequence render inArgs");
    SetSequenceArgs(s, *sequence, time);
    OfxStatus status =
        CallAction(s, kOfxImageEffectActionBeginSequenceRender, e, sequence.get(), nullptr);
    if (!Accepted(status)) return status;

    auto in = Args(s, "region of definition inArgs");
    SetRenderArgs(s, *in, time);
    auto out = Args(s, "region of definition outArgs");
    auto source = s.inputs.find(kOfxImageEffectSimpleSourceClipName);
    const Picture empty;
    const Picture& src = source != s.inputs.end() ? source->second : empty;
    OfxRectD rod = ToCanonical(
        s, {src.origin_x, src.origin_y, src.origin_x + src.width, src.origin_y + src.height});
    SetDoubles(*out, kOfxImageEffectPropRegionOfDefinition, {rod.x1, rod.y1, rod.x2, rod.y2});
    status = CallAction(s, kOfxImageEffectActionGetRegionOfDefinition, e, in.get(), out.get());
    if (!Accepted(status)) return status;
    s.rod = {GetDouble(*out, kOfxImageEffectPropRegionOfDefinition, 0, rod.x1),
             GetDouble(*out, kOfxImageEffectPropRegionOfDefinition, 1, rod.y1),
             GetDouble(*out, kOfxImageEffectPropRegionOfDefinition, 2, rod.x2),
             GetDouble(*out, kOfxImageEffectPropRegionOfDefinition, 3, rod.y2)};

    in = Args(s, "is-identity inArgs");
    SetRenderArgs(s, *in, time);
    SetStrings(*in, kOfxImageEffectPropFieldToRender, {kOfxImageFieldNone});
    SetInts(*in, kOfxImageEffectPropRenderWindow, {window.x1, window.y1, window.x2, window.y2});
    out = Args(s, "is-identity outArgs");
    SetStrings(*out, kOfxPropName, {""});
    SetDoubles(*out, kOfxPropTime, {time});
    status = CallAction(s, kOfxImageEffectActionIsIdentity, e, in.get(), out.get());
    std::string identity = status == kOfxStatReplyYes ? GetString(*out, kOfxPropName, 0, "") : "";
    if (!identity.empty()) {
        auto input = s.inputs.find(identity);
        frame->identity_clip = identity;
        ReadFrame(s, window, input != s.inputs.end() ? &input->second : &empty, frame);
    } else {
        in = Args(s, "regions of interest inArgs");
        SetRenderArgs(s, *in, time);
        OfxRectD asked = ToCanonical(s, window);
        SetDoubles(*in, kOfxImageEffectPropRegionOfInterest,
                   {asked.x1, asked.y1, asked.x2, asked.y2});
        out = Args(s, "regions of interest outArgs");
        for (const std::string& clip : e->clip_order) {
            if (clip == kOfxImageEffectOutputClipName) continue;
            SetDoubles(*out, "OfxImageClipPropRoI_" + clip,
                       {asked.x1, asked.y1, asked.x2, asked.y2});
        }
        status = CallAction(s, kOfxImageEffectActionGetRegionsOfInterest, e, in.get(), out.get());
        if (!Accepted(status)) return status;
        s.rois.clear();
        for (const std::string& clip : e->clip_order) {
            if (clip == kOfxImageEffectOutputClipName) continue;
            std::string name = "OfxImageClipPropRoI_" + clip;
            s.rois[clip] = {GetDouble(*out, name, 0, asked.x1), GetDouble(*out, name, 1, asked.y1),
                            GetDouble(*out, name, 2, asked.x2), GetDouble(*out, name, 3, asked.y2)};
        }

        PrepareOutput(s, ToPixels(s, s.rod));
        const Effect& d = s.descriptor;
        bool split =
            GetString(d.props, kOfxImageEffectPluginRenderThreadSafety, 0,
                      kOfxImageEffectRenderInstanceSafe) == kOfxImageEffectRenderFullySafe &&
            GetInt(d.props, kOfxImageEffectPluginPropHostFrameThreading, 0, 1) != 0;
        int height = window.y2 - window.y1;
        int parts = split ? std::max(1, std::min(s.options.threads, height)) : 1;
        std::vector<OfxStatus> statuses(parts, kOfxStatOK);
        std::vector<std::thread> threads;
        for (int i = 0; i < parts; ++i) {
            OfxRectI band = window;
            band.y1 = window.y1 + height * i / parts;
            band.y2 = window.y1 + height * (i + 1) / parts;
            threads.emplace_back([&s, e, band, time, i, &statuses] {
                auto args = Args(s, "render inArgs");
                SetRenderArgs(s, *args, time);
                SetStrings(*args, kOfxImageEffectPropFieldToRender, {kOfxImageFieldNone});
                SetInts(*args, kOfxImageEffectPropRenderWindow,
                        {band.x1, band.y1, band.x2, band.y2});
                SetInts(*args, kOfxImageEffectPropSequentialRenderStatus, {0});
                SetInts(*args, kOfxImageEffectPropInteractiveRenderStatus, {0});
                SetInts(*args, kOfxImageEffectPropRenderQualityDraft, {0});
                statuses[i] = CallAction(s, kOfxImageEffectActionRender, e, args.get(), nullptr);
            });
        }
        for (std::thread& thread : threads) thread.join();
        frame->render_calls = parts;
        for (OfxStatus each : statuses) {
            if (each != kOfxStatOK && status == kOfxStatOK) status = each;
        }
        if (std::count(statuses.begin(), statuses.end(), kOfxStatReplyDefault) != 0) {
            Violate(&s.log, "the render action was not handled");
        }
        std::string stray = CheckOutputCanaries(s, window);
        if (!stray.empty()) Violate(&s.log, stray);
        ReadFrame(s, window, nullptr, frame);
    }
    OfxStatus end =
        CallAction(s, kOfxImageEffectActionEndSequenceRender, e, sequence.get(), nullptr);
    if (status == kOfxStatReplyYes || status == kOfxStatReplyDefault) status = kOfxStatOK;
    if (status == kOfxStatOK && !Accepted(end)) status = end;
    if (status == kOfxStatOK && ViolationCount(s) != violations_before) status = kOfxStatFailed;
    return status;
}

OfxStatus PurgeCaches(Session& s) {
    if (!s.instance) return kOfxStatFailed;
    size_t violations_before = ViolationCount(s);
    OfxStatus status = CallAction(s, kOfxActionPurgeCaches, s.instance.get(), nullptr, nullptr);
    if (!Accepted(status)) return status;
    return ViolationCount(s) == violations_before ? kOfxStatOK : kOfxStatFailed;
}

namespace {

const Effect* DescribedEffect(const Session& s) {
    if (s.instance) return s.instance.get();
    auto found = s.contexts.find(s.options.context);
    return found != s.contexts.end() ? found->second.get() : nullptr;
}

}  // namespace

std::vector<std::string> Described(const Session& s, const std::string& object,
                                   const std::string& property) {
    const Effect* e = DescribedEffect(s);
    if (e == nullptr) return {};
    if (object.empty()) return ValueTexts(e->props, property);
    const std::string param_prefix = "param:";
    if (object.rfind(param_prefix, 0) == 0) {
        auto found = e->params.params.find(object.substr(param_prefix.size()));
        return found != e->params.params.end() ? ValueTexts(found->second->props, property)
                                               : std::vector<std::string>{};
    }
    auto found = e->clips.find(object);
    return found != e->clips.end() ? ValueTexts(found->second->props, property)
                                   : std::vector<std::string>{};
}

std::vector<std::string> ParamNames(const Session& s) {
    const Effect* e = DescribedEffect(s);
    return e != nullptr ? e->params.order : std::vector<std::string>{};
}

void Close(Session& s) {
    if (s.instance) {
        CallAction(s, kOfxActionDestroyInstance, s.instance.get(), nullptr, nullptr);
        s.instance.reset();
    }
    if (s.loaded) {
        CallAction(s, kOfxActionUnload, nullptr, nullptr, nullptr);
        s.loaded = false;
    }
    s.plugin = nullptr;
    if (s.library != nullptr) {
        CloseLibrary(s.library);
        s.library = nullptr;
    }
}

std::vector<std::string> Violations(const Session& s) {
    std::lock_guard<std::mutex> lock(const_cast<Log&>(s.log).mutex);
    return s.log.violations;
}

std::vector<std::string> Messages(const Session& s) {
    std::lock_guard<std::mutex> lock(const_cast<Log&>(s.log).mutex);
    return s.log.messages;
}

}  // namespace vexo::ofxhost
