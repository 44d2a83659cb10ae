// Smart pre-render: check out the whole input and map layers and report the part of the request
// the input covers as the effect's result.
#include <algorithm>

#include "effect/handlers.h"
#include "host/messages.h"

namespace {
constexpr PF_ParamIndex kInputLayer = 0;
constexpr PF_ParamIndex kMapLayer = 1;
constexpr A_long kInputCheckout = 0;
constexpr A_long kMapCheckout = 1;

// Larger than any layer, with a width and height that still fit 32 bits: the host clips it to
// what each layer has. Translation, anchor and edge modes are fractions and edges of the whole
// frame, so every pass but the last needs all of it, whatever part the host asks for.
constexpr PF_LRect kWholeLayer = {-(1 << 29), -(1 << 29), 1 << 29, 1 << 29};

PF_LRect Intersection(const PF_LRect& a, const PF_LRect& b) {
    const PF_LRect r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                     std::min(a.bottom, b.bottom)};
    return IsEmptyRect(&r) ? PF_LRect{0, 0, 0, 0} : r;
}
}  // namespace

PF_Err SmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra) {
    if (!extra || !extra->input || !extra->output || !extra->cb) return PF_Err_BAD_CALLBACK_PARAM;
    PF_RenderRequest request = extra->input->output_request;
    request.rect = kWholeLayer;

    PF_CheckoutResult input{};
    PF_Err err = extra->cb->checkout_layer(in_data->effect_ref, kInputLayer, kInputCheckout,
                                           &request, in_data->current_time, in_data->time_step,
                                           in_data->time_scale, &input);
    if (err) return err;

    PF_CheckoutResult map{};
    err = extra->cb->checkout_layer(in_data->effect_ref, kMapLayer, kMapCheckout, &request,
                                    in_data->current_time, in_data->time_step, in_data->time_scale,
                                    &map);
    if (err) return err;

    // The render draws only what was asked for, from the whole layer.
    const PF_LRect result = Intersection(extra->input->output_request.rect, input.result_rect);
    UnionLRect(&result, &extra->output->result_rect);
    UnionLRect(&input.max_result_rect, &extra->output->max_result_rect);
    return PF_Err_NONE;
}
