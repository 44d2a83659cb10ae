#include "standalone/render_host.h"

#include <algorithm>
#include <limits>
#include <list>
#include <map>
#include <mutex>

#include "standalone/suites.h"

namespace vexo_host {
namespace {

struct LayerCheckout {
    PF_ParamIndex index;
    const World* layer;        // null: the parameter names no layer
    PF_EffectWorld def;        // the copy handed to the effect
    PF_RenderRequest request;  // as the effect asked for it
    PF_LRect result_rect;      // what the host answered
    bool pixels_out = false;   // checked out as pixels and not yet checked in
};

// What the host knows of the frame being rendered on this thread. The callbacks carry only the
// effect reference, and one instance may render frames on several threads at once.
struct Frame {
    Instance* instance = nullptr;
    FrameLayers layers;
    World* output = nullptr;
    std::map<A_long, LayerCheckout> checkouts;
    bool output_out = false;
    PF_Err checkout_error = PF_Err_NONE;  // the first checkout_layer the host failed
    const FrameOptions* options = nullptr;
    std::list<World> other_times;  // layers checked out at other frames
    std::string layer_problem;     // why one of those could not be had
};

thread_local Frame* t_frame = nullptr;

Frame* FrameFor(PF_ProgPtr effect_ref) {
    return t_frame && RefOf(t_frame->instance) == effect_ref ? t_frame : nullptr;
}

// Where `layer` lies on the input layer's grid, which every rectangle of a frame is given on: the
// map is placed by the difference of the layers' origins, held to what an A_long holds.
std::pair<A_long, A_long> Placement(const World* layer, const World* input) {
    if (!layer || !input || layer == input) return {0, 0};
    const auto along = [](A_long a, A_long b) {
        return A_long(std::clamp<int64_t>(int64_t(a) - b, std::numeric_limits<A_long>::min() / 2,
                                          std::numeric_limits<A_long>::max() / 2));
    };
    return {along(layer->def.origin_x, input->def.origin_x),
            along(layer->def.origin_y, input->def.origin_y)};
}

// A layer of negative size (only ever handed in by a test) has no pixels: its bounds are empty,
// never inverted, so a rectangle the effect derives from them is not taken for its own fault.
PF_LRect Bounds(const World* layer, std::pair<A_long, A_long> at = {0, 0}) {
    if (!layer) return PF_LRect{0, 0, 0, 0};
    const auto [x, y] = at;
    return PF_LRect{x, y, x + std::max<A_long>(layer->def.width, 0),
                    y + std::max<A_long>(layer->def.height, 0)};
}

bool Empty(const PF_LRect& r) { return r.left >= r.right || r.top >= r.bottom; }

bool Inverted(const PF_LRect& r) { return r.left > r.right || r.top > r.bottom; }

// `inner` lies within `outer`; an empty rectangle lies within anything.
bool Within(const PF_LRect& inner, const PF_LRect& outer) {
    return Empty(inner) || (inner.left >= outer.left && inner.top >= outer.top &&
                            inner.right <= outer.right && inner.bottom <= outer.bottom);
}

std::string Text(const PF_LRect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b) {
    PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (Empty(r)) r = PF_LRect{0, 0, 0, 0};
    return r;
}

// Where the pixel `by` pixels into a layer placed at `origin` lies, held to what an A_long holds
// (which only a layer placed at the very end of the range needs).
A_long Offset(A_long origin, A_long by) {
    return A_long(std::clamp<int64_t>(int64_t(origin) + by, std::numeric_limits<A_long>::min(),
                                      std::numeric_limits<A_long>::max()));
}

// What a checkout hands out: the pixels of its result rectangle (on the input's grid, where the
// layer lies at `at`), placed by their origin on the layer, as a host does; not the whole layer.
PF_EffectWorld Part(const World& layer, const PF_LRect& r, std::pair<A_long, A_long> at) {
    PF_EffectWorld def = layer.def;
    if (Empty(r)) {
        def.width = def.height = 0;
        return def;
    }
    const A_long left = r.left - at.first, top = r.top - at.second;
    if (def.data) {  // a test's layer without pixels stays without
        def.data = reinterpret_cast<PF_PixelPtr>(reinterpret_cast<uint8_t*>(def.data) +
                                                 std::ptrdiff_t(top) * def.rowbytes +
                                                 std::ptrdiff_t(left) * PixelBytes(layer.depth));
    }
    def.width = r.right - r.left;
    def.height = r.bottom - r.top;
    def.origin_x = Offset(def.origin_x, left);
    def.origin_y = Offset(def.origin_y, top);
    def.extent_hint = PF_LRect{0, 0, def.width, def.height};
    return def;
}

// floor(a / b) for b > 0.
int64_t FloorDiv(__int128 a, __int128 b) { return int64_t(a / b - (a % b < 0 ? 1 : 0)); }

PF_Err CheckoutLayerFor(Frame* frame, PF_ParamIndex index, A_long checkout_id,
                        const PF_RenderRequest* request, A_long time, A_u_long time_scale,
                        PF_CheckoutResult* result) {
    if (const PF_Err err = InjectedFailure("checkout_layer")) return err;
    if (!frame || !request || !result || time_scale == 0 || frame->instance->time_step <= 0) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const World* layer = nullptr;
    if (index == 0) {
        layer = frame->layers.input;
    } else if (std::size_t(index) < frame->instance->params.size() &&
               frame->instance->params[std::size_t(index)].def.param_type == PF_Param_LAYER) {
        layer = frame->layers.map;
    } else {
        return PF_Err_INVALID_INDEX;
    }
    if (frame->checkouts.count(checkout_id)) return PF_Err_BAD_CALLBACK_PARAM;
    // A layer at another time is its frame at or before that time.
    const Instance& instance = *frame->instance;
    const int64_t at =
        FloorDiv(__int128(time) * instance.time_scale, __int128(time_scale) * instance.time_step);
    if (layer && frame->options && frame->options->layer_at &&
        at != FloorDiv(frame->options->time, instance.time_step)) {
        World other;
        std::string why;
        if (at < std::numeric_limits<A_long>::min() || at > std::numeric_limits<A_long>::max() ||
            !frame->options->layer_at(index != 0, A_long(at), &other, &why)) {
            frame->layer_problem = "no " + std::string(index ? "map" : "input") + " at frame " +
                                   std::to_string(at) + (why.empty() ? "" : ": " + why);
            return PF_Err_BAD_CALLBACK_PARAM;
        }
        frame->other_times.push_back(std::move(other));
        layer = &frame->other_times.back();
    }
    *result = PF_CheckoutResult{};
    const std::pair<A_long, A_long> placed = Placement(layer, frame->layers.input);
    result->max_result_rect = Bounds(layer, placed);
    result->result_rect = Intersect(request->rect, result->max_result_rect);
    if (frame->options && frame->options->checkouts) {
        frame->options->checkouts->push_back({index, result->result_rect});
    }
    result->par = {1, 1};
    result->ref_width = layer ? layer->def.width : 0;
    result->ref_height = layer ? layer->def.height : 0;
    LayerCheckout checkout{index, layer,
                           layer ? Part(*layer, result->result_rect, placed) : PF_EffectWorld{},
                           *request, result->result_rect};
    frame->checkouts.emplace(checkout_id, checkout);
    return PF_Err_NONE;
}

// Remembers the first failure the effect was handed: it must come back as the command's result.
PF_Err CheckoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                     const PF_RenderRequest* request, A_long time, A_long, A_u_long time_scale,
                     PF_CheckoutResult* result) {
    Frame* frame = FrameFor(effect_ref);
    const PF_Err err =
        CheckoutLayerFor(frame, index, checkout_id, request, time, time_scale, result);
    if (err && frame && !frame->checkout_error) frame->checkout_error = err;
    return err;
}

PF_Err CheckoutLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id, PF_EffectWorld** pixels) {
    if (const PF_Err err = InjectedFailure("checkout_layer_pixels")) return err;
    Frame* frame = FrameFor(effect_ref);
    if (!frame || !pixels) return PF_Err_BAD_CALLBACK_PARAM;
    auto it = frame->checkouts.find(checkout_id);
    if (it == frame->checkouts.end()) return PF_Err_BAD_CALLBACK_PARAM;  // not asked for
    LayerCheckout& c = it->second;
    *pixels = c.layer ? &c.def : nullptr;
    c.pixels_out = c.layer != nullptr;
    return PF_Err_NONE;
}

PF_Err CheckinLayerPixels(PF_ProgPtr effect_ref, A_long checkout_id) {
    Frame* frame = FrameFor(effect_ref);
    if (!frame) return PF_Err_BAD_CALLBACK_PARAM;
    auto it = frame->checkouts.find(checkout_id);
    if (it == frame->checkouts.end()) return PF_Err_BAD_CALLBACK_PARAM;
    it->second.pixels_out = false;
    return PF_Err_NONE;
}

PF_Err CheckoutOutput(PF_ProgPtr effect_ref, PF_EffectWorld** output) {
    if (const PF_Err err = InjectedFailure("checkout_output")) return err;
    Frame* frame = FrameFor(effect_ref);
    if (!frame || !output || !frame->output) return PF_Err_BAD_CALLBACK_PARAM;
    *output = &frame->output->def;
    frame->output_out = true;
    return PF_Err_NONE;
}

// Restores the thread's previous frame even when a command throws through the host.
struct FrameScope {
    explicit FrameScope(Frame* frame) : previous(t_frame) { t_frame = frame; }
    ~FrameScope() { t_frame = previous; }
    Frame* previous;
};

// What a host relies on in the pre-render's answer. The effect must check out the input layer,
// ask for pixels wherever the host asks for some, and promise a result rectangle that lies
// within both the request and its own maximum; a request for pixels of a layer that has some
// cannot come back empty.
std::vector<std::string> PreRenderFaults(const Frame& frame, const PF_RenderRequest& asked,
                                         const PF_PreRenderOutput& answer) {
    std::vector<std::string> faults;
    const PF_LRect& result = answer.result_rect;
    const PF_LRect& max = answer.max_result_rect;
    if (Inverted(result) || Inverted(max)) {
        faults.push_back("the pre-render reports an inverted rectangle: result " + Text(result) +
                         ", maximum " + Text(max));
        return faults;
    }
    const LayerCheckout* input = nullptr;
    for (const auto& [id, checkout] : frame.checkouts) {
        if (checkout.index == 0 && !input) input = &checkout;
        const PF_RenderRequest& r = checkout.request;
        if (!Empty(asked.rect) && (Empty(r.rect) || r.channel_mask == 0)) {
            faults.push_back("checkout " + std::to_string(id) + " of parameter " +
                             std::to_string(checkout.index) + " asks for no pixels (rectangle " +
                             Text(r.rect) + ", channels " + std::to_string(r.channel_mask) +
                             ") where the host asks for " + Text(asked.rect));
        }
    }
    if (!input) faults.push_back("the pre-render did not check out the input layer");
    if (input && !Empty(Intersect(asked.rect, input->result_rect)) && Empty(result)) {
        faults.push_back("the pre-render promises nothing for a request of " + Text(asked.rect) +
                         " on an input that has " + Text(input->result_rect));
    }
    if (!Within(result, max)) {
        faults.push_back("the result rectangle " + Text(result) + " reaches outside the maximum " +
                         Text(max));
    }
    if (!Within(result, asked.rect)) {
        faults.push_back("the result rectangle " + Text(result) + " reaches outside the request " +
                         Text(asked.rect));
    }
    return faults;
}

PF_Err SmartRenderFrame(Instance* instance, const FrameLayers& layers, const FrameOptions& options,
                        World* output, std::vector<std::string>* problems) {
    Frame frame;
    frame.instance = instance;
    frame.layers = layers;
    frame.options = &options;
    FrameScope scope(&frame);
    const std::thread::id thread = std::this_thread::get_id();
    const std::size_t checkouts_before = OutstandingCheckouts(*instance, thread);
    if (!options.given_output) *output = World{};

    PF_InData in = MakeInstanceInData(instance);
    in.current_time = options.time;
    in.downsample_x = options.downsample;
    in.downsample_y = options.downsample;
    if (layers.input) {
        in.width = layers.input->def.width;
        in.height = layers.input->def.height;
        in.extent_hint = Bounds(layers.input);
    }

    PF_PreRenderInput pre_input{};
    pre_input.output_request.rect = options.region ? *options.region : Bounds(layers.input);
    pre_input.output_request.channel_mask = 0xF;  // alpha, red, green, blue
    pre_input.bitdepth = A_short(options.depth);
    PF_PreRenderOutput pre_output{};
    PF_PreRenderCallbacks pre_cb{};
    pre_cb.checkout_layer = CheckoutLayer;
    PF_PreRenderExtra pre{};
    pre.input = &pre_input;
    pre.output = &pre_output;
    pre.cb = &pre_cb;
    PF_OutData out{};
    PF_Err err =
        Send(*instance->effect, PF_Cmd_SMART_PRE_RENDER, &in, &out, nullptr, nullptr, &pre);

    if (!frame.layer_problem.empty()) problems->push_back(frame.layer_problem);
    if (frame.checkout_error && err != frame.checkout_error) {
        problems->push_back("the pre-render answered " + std::to_string(err) +
                            " after checkout_layer failed with " +
                            std::to_string(frame.checkout_error));
        if (!err) err = frame.checkout_error;
    }
    if (!err) {
        const std::vector<std::string> faults =
            PreRenderFaults(frame, pre_input.output_request, pre_output);
        problems->insert(problems->end(), faults.begin(), faults.end());
        if (!faults.empty()) err = PF_Err_INTERNAL_STRUCT_DAMAGED;
    }

    // The output covers the promised result, placed where it lies on the layer. A frame that
    // promises nothing is not rendered.
    const PF_LRect& result = pre_output.result_rect;
    if (!err && (!Empty(result) || options.given_output)) {
        if (options.given_output) {
            if (options.given_output != output) *output = *options.given_output;
        } else {
            *output = MakeWorld(result.right - result.left, result.bottom - result.top,
                                options.depth == 32 ? 32 : 8);
            // On the grid the layers' origins are given on, as the checkouts' are.
            const PF_EffectWorld placed = layers.input ? layers.input->def : PF_EffectWorld{};
            output->def.origin_x = Offset(placed.origin_x, result.left);
            output->def.origin_y = Offset(placed.origin_y, result.top);
        }
        frame.output = output;

        PF_SmartRenderInput render_input{};
        render_input.output_request = pre_input.output_request;
        render_input.bitdepth = A_short(options.depth);
        render_input.pre_render_data = pre_output.pre_render_data;
        PF_SmartRenderCallbacks render_cb{};
        render_cb.checkout_layer_pixels = CheckoutLayerPixels;
        render_cb.checkin_layer_pixels = CheckinLayerPixels;
        render_cb.checkout_output = CheckoutOutput;
        PF_SmartRenderExtra render{};
        render.input = &render_input;
        render.cb = &render_cb;
        out = PF_OutData{};
        err = Send(*instance->effect, PF_Cmd_SMART_RENDER, &in, &out, nullptr, nullptr, &render);
    }
    // The pre-render's data goes once the frame is done with it, rendered or not.
    if (pre_output.pre_render_data) {
        if (pre_output.delete_pre_render_data_func) {
            pre_output.delete_pre_render_data_func(pre_output.pre_render_data);
        } else {
            problems->push_back("the pre-render left data without a function to delete it");
        }
    }
    if (options.message && (out.out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE)) {
        out.return_msg[sizeof out.return_msg - 1] = '\0';
        *options.message = out.return_msg;
    }

    // The host checks layers back in after the command, as the application does.
    for (auto& [id, checkout] : frame.checkouts) checkout.pixels_out = false;
    if (const std::size_t open = OutstandingCheckouts(*instance, thread); open > checkouts_before) {
        problems->push_back(std::to_string(open - checkouts_before) +
                            " parameter checkout(s) never checked in");
    }
    return err;
}

// A module that does not declare smart render is rendered as the application renders such an
// effect: frame setup, the render with every parameter's value in `params` (the input layer's
// pixels in params[0], the map's in its layer parameter) into an output the input's size, and
// frame setdown. It gets no request and no pre-render.
PF_Err RenderWithoutSmartRender(Instance* instance, const FrameLayers& layers,
                                const FrameOptions& options, World* output,
                                std::vector<std::string>* problems) {
    Frame frame;
    frame.instance = instance;
    frame.layers = layers;
    FrameScope scope(&frame);
    const std::thread::id thread = std::this_thread::get_id();
    const std::size_t checkouts_before = OutstandingCheckouts(*instance, thread);
    const PF_LRect bounds = Bounds(layers.input);
    if (options.given_output) {
        if (options.given_output != output) *output = *options.given_output;
    } else {
        *output = MakeWorld(bounds.right, bounds.bottom, options.depth == 32 ? 32 : 8);
    }

    PF_InData in = MakeInstanceInData(instance);
    in.current_time = options.time;
    in.downsample_x = options.downsample;
    in.downsample_y = options.downsample;
    in.width = bounds.right;
    in.height = bounds.bottom;
    in.extent_hint = bounds;
    std::vector<PF_ParamDef> defs;
    {
        std::lock_guard<std::mutex> lock(instance->mutex);
        for (std::size_t i = 0; i < instance->params.size(); ++i) {
            defs.push_back(CurrentDef(*instance, PF_ParamIndex(i)));
        }
    }
    for (std::size_t i = 0; i < defs.size(); ++i) {
        if (i == 0 || defs[i].param_type == PF_Param_LAYER) {
            const World* layer = i == 0 ? layers.input : layers.map;
            defs[i].u.ld = layer ? layer->def : PF_LayerDef{};
        }
    }
    std::vector<PF_ParamDef*> params;
    for (PF_ParamDef& def : defs) params.push_back(&def);

    PF_OutData out{};
    PF_Err err = Send(*instance->effect, PF_Cmd_FRAME_SETUP, &in, &out, params.data(), &output->def,
                      nullptr);
    if (!err) {
        out = PF_OutData{};
        err =
            Send(*instance->effect, PF_Cmd_RENDER, &in, &out, params.data(), &output->def, nullptr);
        out = PF_OutData{};
        const PF_Err setdown = Send(*instance->effect, PF_Cmd_FRAME_SETDOWN, &in, &out,
                                    params.data(), &output->def, nullptr);
        if (!err) err = setdown;
    }
    if (const std::size_t open = OutstandingCheckouts(*instance, thread); open > checkouts_before) {
        problems->push_back(std::to_string(open - checkouts_before) +
                            " parameter checkout(s) never checked in");
    }
    return err;
}

// Frames of modules that do not declare threaded rendering, one at a time.
std::mutex g_unthreaded;

}  // namespace

Instance* InstanceRenderingOnThisThread() { return t_frame ? t_frame->instance : nullptr; }

PF_Err RenderFrame(Instance* instance, const FrameLayers& layers, const FrameOptions& options,
                   World* output, std::vector<std::string>* problems) {
    const PF_OutFlags2 declared = instance->effect->out_flags2;
    std::unique_lock<std::mutex> one_at_a_time(g_unthreaded, std::defer_lock);
    if (!(declared & PF_OutFlag2_SUPPORTS_THREADED_RENDERING)) one_at_a_time.lock();
    const bool smart = declared & PF_OutFlag2_SUPPORTS_SMART_RENDER;
    // Float colour reaches an effect only through smart render. Other effects render a 32-bit
    // frame at 8 bits: the layers are converted down and the output back up.
    if (options.depth == 32 && !(smart && (declared & PF_OutFlag2_FLOAT_COLOR_AWARE))) {
        const World input = layers.input ? WithDepth(*layers.input, 8) : World{};
        const World map = layers.map ? WithDepth(*layers.map, 8) : World{};
        FrameOptions at8 = options;
        at8.depth = 8;
        at8.given_output = nullptr;
        if (options.layer_at) {
            at8.layer_at = [&options](bool map, A_long frame, World* layer, std::string* error) {
                if (!options.layer_at(map, frame, layer, error)) return false;
                *layer = WithDepth(*layer, 8);
                return true;
            };
        }
        World output8;
        const FrameLayers layers8{layers.input ? &input : nullptr, layers.map ? &map : nullptr};
        const PF_Err err =
            smart ? SmartRenderFrame(instance, layers8, at8, &output8, problems)
                  : RenderWithoutSmartRender(instance, layers8, at8, &output8, problems);
        *output = WithDepth(output8, 32);
        return err;
    }
    return smart ? SmartRenderFrame(instance, layers, options, output, problems)
                 : RenderWithoutSmartRender(instance, layers, options, output, problems);
}

}  // namespace vexo_host
