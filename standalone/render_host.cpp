#include "standalone/render_host.h"

#include <algorithm>
#include <map>

#include "standalone/suites.h"

namespace vexo_host {
namespace {

struct LayerCheckout {
    PF_ParamIndex index;
    const World* layer;       // null: the parameter names no layer
    PF_EffectWorld def;       // the copy handed to the effect
    bool pixels_out = false;  // checked out as pixels and not yet checked in
};

// What the host knows of the frame being rendered on this thread. The callbacks carry only the
// effect reference, and one instance may render frames on several threads at once.
struct Frame {
    Instance* instance;
    FrameLayers layers;
    World* output;
    std::map<A_long, LayerCheckout> checkouts;
    bool output_out = false;
};

thread_local Frame* t_frame = nullptr;

Frame* FrameFor(PF_ProgPtr effect_ref) {
    return t_frame && RefOf(t_frame->instance) == effect_ref ? t_frame : nullptr;
}

PF_LRect Bounds(const World* layer) {
    return layer ? PF_LRect{0, 0, layer->def.width, layer->def.height} : PF_LRect{0, 0, 0, 0};
}

PF_LRect Intersect(const PF_LRect& a, const PF_LRect& b) {
    PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
               std::min(a.bottom, b.bottom)};
    if (r.left >= r.right || r.top >= r.bottom) r = PF_LRect{0, 0, 0, 0};
    return r;
}

PF_Err CheckoutLayer(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long checkout_id,
                     const PF_RenderRequest* request, A_long, A_long, A_u_long,
                     PF_CheckoutResult* result) {
    if (const PF_Err err = InjectedFailure("checkout_layer")) return err;
    Frame* frame = FrameFor(effect_ref);
    if (!frame || !request || !result) return PF_Err_BAD_CALLBACK_PARAM;
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
    LayerCheckout checkout{index, layer, layer ? layer->def : PF_EffectWorld{}, false};
    frame->checkouts.emplace(checkout_id, checkout);
    *result = PF_CheckoutResult{};
    result->max_result_rect = Bounds(layer);
    result->result_rect = Intersect(request->rect, result->max_result_rect);
    result->par = {1, 1};
    result->ref_width = layer ? layer->def.width : 0;
    result->ref_height = layer ? layer->def.height : 0;
    return PF_Err_NONE;
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
    if (!frame || !output) return PF_Err_BAD_CALLBACK_PARAM;
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

}  // namespace

PF_Err RenderFrame(Instance* instance, const FrameLayers& layers, const FrameOptions& options,
                   World* output, std::vector<std::string>* problems) {
    Frame frame{instance, layers, output, {}, false};
    FrameScope scope(&frame);
    const std::thread::id thread = std::this_thread::get_id();
    const std::size_t checkouts_before = OutstandingCheckouts(*instance, thread);

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
    pre_input.output_request.rect = Bounds(layers.input);
    pre_input.output_request.channel_mask = 0xF;  // alpha, red, green, blue
    pre_input.bitdepth = A_short(options.depth);
    PF_PreRenderOutput pre_output{};
    PF_PreRenderCallbacks pre_cb{};
    pre_cb.checkout_layer = CheckoutLayer;
    PF_PreRenderExtra pre{&pre_input, &pre_output, &pre_cb};
    PF_OutData out{};
    PF_Err err =
        Send(*instance->effect, PF_Cmd_SMART_PRE_RENDER, &in, &out, nullptr, nullptr, &pre);

    if (!err) {
        PF_SmartRenderInput render_input{};
        render_input.output_request = pre_input.output_request;
        render_input.bitdepth = A_short(options.depth);
        PF_SmartRenderCallbacks render_cb{CheckoutLayerPixels, CheckinLayerPixels, CheckoutOutput};
        PF_SmartRenderExtra render{&render_input, &render_cb};
        out = PF_OutData{};
        err = Send(*instance->effect, PF_Cmd_SMART_RENDER, &in, &out, nullptr, nullptr, &render);
    }

    // The host checks layers back in after the command, as the application does.
    for (auto& [id, checkout] : frame.checkouts) checkout.pixels_out = false;
    if (const std::size_t open = OutstandingCheckouts(*instance, thread); open > checkouts_before) {
        problems->push_back(std::to_string(open - checkouts_before) +
                            " parameter checkout(s) never checked in");
    }
    return err;
}

}  // namespace vexo_host
