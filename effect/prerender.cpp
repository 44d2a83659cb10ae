// Smart pre-render: ask for the part of each layer the frame reads, and report the part of the
// request the input covers as the effect's result.
#include <algorithm>
#include <cstring>
#include <new>

#include "effect/handlers.h"
#include "host/messages.h"
#include "params/param_table.h"
#include "render/reach.h"
#include "render/render_settings.h"

namespace {
constexpr PF_ParamIndex kInputLayer = 0;
constexpr PF_ParamIndex kMapLayer = 1;
constexpr A_long kInputCheckout = 0;
constexpr A_long kMapCheckout = 1;
// Only tells where the input layer lies; its pixels are never asked for.
constexpr A_long kInputExtentCheckout = 2;

// Larger than any layer, with a width and height that still fit 32 bits: the host clips it to
// what the layer has.
constexpr PF_LRect kWholeLayer = {-(1 << 29), -(1 << 29), 1 << 29, 1 << 29};

PF_LRect Intersection(const PF_LRect& a, const PF_LRect& b) {
    const PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                     std::min(a.bottom, b.bottom)};
    return IsEmptyRect(&r) ? PF_LRect{0, 0, 0, 0} : r;
}

A_long Clamped(int64_t v) {
    return A_long(std::clamp<int64_t>(v, kWholeLayer.left, kWholeLayer.right));
}

// A part of the frame as a request on the host's grid, where the frame starts at `layer`'s
// corner.
PF_LRect OnGrid(const Region& r, const PF_LRect& layer) {
    if (r.empty()) return PF_LRect{0, 0, 0, 0};
    return PF_LRect{Clamped(r.left + layer.left), Clamped(r.top + layer.top),
                    Clamped(r.right + layer.left), Clamped(r.bottom + layer.top)};
}

// What each layer must hold for the frame to draw `request`: the input where the displacement
// can take its pixels from, the map where the passes read it. The map layer lies on the input's
// grid.
void LayerRequests(PF_InData* in_data, int16_t bit_depth, const PF_LRect& layer,
                   const PF_LRect& request, PF_LRect* input, PF_LRect* map) {
    *input = *map = kWholeLayer;
    PF_ParamDef defs[kParamCount];
    PF_Err checkin_err = PF_Err_NONE;
    // Controls the host cannot hand over now it will not hand the render either, which fails
    // then with its message: nothing is bounded meanwhile.
    if (CheckoutControls(in_data, defs, &checkin_err)) return;
    myParams p;
    std::memset(&p, 0, sizeof p);
    const FramePlacement whole{layer, layer};
    PlaceFrame(&whole, &p);
    ResolveRenderSettings(defs, bit_depth, in_data->downsample_x, &p);
    const Region window =
        Intersect(Region{int64_t(request.left) - layer.left, int64_t(request.top) - layer.top,
                         int64_t(request.right) - layer.left, int64_t(request.bottom) - layer.top},
                  Region{0, 0, int64_t(p.frameSize.x), int64_t(p.frameSize.y)});
    // Nothing of the layer asked for: the render draws nothing, and each layer is asked for what
    // the host asked.
    if (window.empty()) {
        *input = *map = request;
        return;
    }
    const Region evaluated = EvaluatedRegion(p, window);
    *map = OnGrid(MapReach(p, evaluated), layer);
    Region reach;
    if (InputReach(p, evaluated, &reach)) *input = OnGrid(reach, layer);
}
}  // namespace

PF_Err SmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra) {
    if (!extra || !extra->input || !extra->output || !extra->cb) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_LRect asked = extra->input->output_request.rect;
    PF_RenderRequest request = extra->input->output_request;

    // Translation and anchor are fractions of the whole layer: where it lies comes first.
    PF_CheckoutResult extent{};
    PF_Err err = extra->cb->checkout_layer(in_data->effect_ref, kInputLayer, kInputExtentCheckout,
                                           &request, in_data->current_time, in_data->time_step,
                                           in_data->time_scale, &extent);
    if (err) return err;
    PF_LRect input_rect, map_rect;
    LayerRequests(in_data, extra->input->bitdepth, extent.max_result_rect, asked, &input_rect,
                  &map_rect);

    PF_CheckoutResult input{};
    request.rect = input_rect;
    err = extra->cb->checkout_layer(in_data->effect_ref, kInputLayer, kInputCheckout, &request,
                                    in_data->current_time, in_data->time_step, in_data->time_scale,
                                    &input);
    if (err) return err;

    PF_CheckoutResult map{};
    request.rect = map_rect;
    err = extra->cb->checkout_layer(in_data->effect_ref, kMapLayer, kMapCheckout, &request,
                                    in_data->current_time, in_data->time_step, in_data->time_scale,
                                    &map);
    if (err) return err;

    auto* placement = new (std::nothrow) FramePlacement{input.max_result_rect, input.result_rect};
    if (!placement) return PF_Err_OUT_OF_MEMORY;
    extra->output->pre_render_data = placement;
    extra->output->delete_pre_render_data_func = DeleteFramePlacement;

    // The render draws only what was asked for.
    const PF_LRect result = Intersection(asked, input.max_result_rect);
    UnionLRect(&result, &extra->output->result_rect);
    UnionLRect(&input.max_result_rect, &extra->output->max_result_rect);
    return PF_Err_NONE;
}
