// Smart pre-render: check out the input and the map layer for the requested region and report
// the input's rectangles as the effect's own.
#include "effect/handlers.h"
#include "host/messages.h"

namespace {
constexpr PF_ParamIndex kInputLayer = 0;
constexpr PF_ParamIndex kMapLayer = 1;
constexpr A_long kInputCheckout = 0;
constexpr A_long kMapCheckout = 1;
}  // namespace

PF_Err SmartPreRender(PF_InData* in_data, PF_PreRenderExtra* extra) {
    if (!extra || !extra->input || !extra->output || !extra->cb) return PF_Err_BAD_CALLBACK_PARAM;
    const PF_RenderRequest request = extra->input->output_request;

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

    UnionLRect(&input.result_rect, &extra->output->result_rect);
    UnionLRect(&input.max_result_rect, &extra->output->max_result_rect);
    return PF_Err_NONE;
}
