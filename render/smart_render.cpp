// Smart render: check out the buffers and every control, resolve them into one record, and run
// the passes on the calling thread's context under the process-wide render lock.
#include <cstring>
#include <mutex>

#include "AE_EffectCB.h"
#include "context/render_data.h"
#include "params/param_table.h"
#include "host/messages.h"
#include "render/passes.h"
#include "render/render_settings.h"
#include "render/smart_render.h"

namespace {

constexpr A_long kInputCheckout = 0;
constexpr A_long kMapCheckout = 1;

// The transfers address host rows through GL's row length, which counts whole pixels: a buffer
// must hold whole pixels per row and at least one row's worth of them.
bool TransferableWorld(const PF_LayerDef* world, int bit_depth) {
    const A_long pixel_bytes = bit_depth == 32 ? 16 : 4;
    if (world->width < 0 || world->height < 0) return false;
    if (world->width == 0 || world->height == 0) return true;
    return world->data && world->rowbytes % pixel_bytes == 0 &&
           world->rowbytes / pixel_bytes >= world->width;
}

}  // namespace

void PlaceFrame(const FramePlacement* placement, myParams* p) {
    if (!placement) {
        p->frameSize = Vec2f{float(p->inputWorld->width), float(p->inputWorld->height)};
        p->inputOffsetX = p->inputOffsetY = 0;
        return;
    }
    const PF_LRect& layer = placement->layer;
    p->frameSize =
        Vec2f{float(int64_t(layer.right) - layer.left), float(int64_t(layer.bottom) - layer.top)};
    p->inputOffsetX = int64_t(placement->inputPart.left) - layer.left;
    p->inputOffsetY = int64_t(placement->inputPart.top) - layer.top;
}

void DeleteFramePlacement(void* placement) { delete static_cast<FramePlacement*>(placement); }

PF_Err CheckoutControls(PF_InData* in_data, PF_ParamDef defs[], PF_Err* checkin_err) {
    std::memset(defs, 0, sizeof(PF_ParamDef) * kParamCount);
    PF_Err err = PF_Err_NONE;
    *checkin_err = PF_Err_NONE;
    for (PF_ParamIndex i = kParamChannel; i < kParamCount && !err && !*checkin_err; ++i) {
        err = in_data->inter.checkout_param(in_data->effect_ref, i, in_data->current_time,
                                            in_data->time_step, in_data->time_scale, &defs[i]);
        *checkin_err = in_data->inter.checkin_param(in_data->effect_ref, &defs[i]);
    }
    return err ? err : *checkin_err;
}

PF_Err RenderResolvedFrame(myParams* p, LocalGLStruct* global_record, PF_OutData* out_data,
                           bool* clear_output) {
    *clear_output = false;
    if (CopyInputFrame(*p)) return PF_Err_NONE;
    std::lock_guard<std::recursive_mutex> render_lock(globalMutex);
    InitThreadLocalRenderData(global_record);
    // A record without a context must not reach GL: fail the frame as if there were none.
    if (!(local_render_data && local_render_data->context) && ContextCreationWaiting()) {
        SendMessageAppendErr("error creating GL context, trying again now and then", out_data,
                             PF_Err_INTERNAL_STRUCT_DAMAGED, kFramesPerContextRetry);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    if (!local_render_data || !local_render_data->context) {
        SendMessageAppendErr("error on local_render_data.get()", out_data, 0, 0);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    // A driver that rejected one of the shaders would draw undefined colours with the rest, and
    // rejects the same texts on every try: the thread keeps failing without building again. A
    // shortage or a lost context can pass, so the next frame builds everything afresh.
    if (!ProgramsComplete(local_render_data->programs)) {
        if (local_render_data->programsFailure == kProgramRejected) {
            SendMessageAppendErr("error building GL programs", out_data,
                                 PF_Err_INTERNAL_STRUCT_DAMAGED, 0);
            return PF_Err_INTERNAL_STRUCT_DAMAGED;
        }
        ReleaseRenderData();
        SendMessageAppendErr("error building GL programs, built again on the next frame", out_data,
                             PF_Err_INTERNAL_STRUCT_DAMAGED, 0);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    const PF_Err err =
        RenderPasses(p, local_render_data->programs, &local_render_data->keptTargets, out_data);
    // A frame that failed after its readback began leaves no half-read picture behind.
    *clear_output = err != PF_Err_NONE;
    if (ReleaseLostRenderData()) {
        *clear_output = true;
        SendMessageAppendErr("error: GL context lost, a new one is made on the next frame",
                             out_data, PF_Err_INTERNAL_STRUCT_DAMAGED, err);
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
    return err;
}

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra) {
    if (!extra || !extra->cb || !extra->input) return PF_Err_BAD_CALLBACK_PARAM;
    myParams p;
    std::memset(&p, 0, sizeof p);

    PF_Err err =
        extra->cb->checkout_layer_pixels(in_data->effect_ref, kInputCheckout, &p.inputWorld);
    if (!err) {
        err = extra->cb->checkout_layer_pixels(in_data->effect_ref, kMapCheckout, &p.mapWorld);
    }
    if (!err) err = extra->cb->checkout_output(in_data->effect_ref, &p.outputWorld);
    if (!p.outputWorld) return err;
    PF_FILL(nullptr, nullptr, p.outputWorld);
    if (!p.inputWorld) return err;
    if (err) {
        SendMessageAppendErr("error on buffer checkout", out_data, err, 0);
        return err;
    }

    const int16_t bit_depth = extra->input->bitdepth;
    const bool depth_ok = bit_depth == 8 || bit_depth == 32;
    if (!depth_ok || !TransferableWorld(p.inputWorld, bit_depth) ||
        !TransferableWorld(p.outputWorld, bit_depth) ||
        (p.mapWorld && !TransferableWorld(p.mapWorld, bit_depth))) {
        SendMessageAppendErr("error on buffer format", out_data, PF_Err_BAD_CALLBACK_PARAM,
                             bit_depth);
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    // An empty frame has nothing to draw.
    if (p.inputWorld->width == 0 || p.inputWorld->height == 0) return PF_Err_NONE;

    PF_ParamDef defs[kParamCount];
    PF_Err checkin_err = PF_Err_NONE;
    err = CheckoutControls(in_data, defs, &checkin_err);
    if (err || checkin_err) {
        const PF_Err result = err ? err : checkin_err;
        SendMessageAppendErr("error on param checkout", out_data, result, checkin_err);
        SendMessageAppendErr("error on param initialisation", out_data, result, 0);
        return result;
    }
    PlaceFrame(static_cast<const FramePlacement*>(extra->input->pre_render_data), &p);
    ResolveRenderSettings(defs, bit_depth, in_data->downsample_x, &p);

    bool clear_output = false;
    err = RenderResolvedFrame(&p, GlobalRenderRecord(in_data), out_data, &clear_output);
    if (clear_output) PF_FILL(nullptr, nullptr, p.outputWorld);
    return err;
}
