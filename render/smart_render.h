// The render command: one frame from the checked-out layers and controls, on the calling
// thread's context.
#pragma once
#include "AE_Effect.h"
#include "context/render_data.h"
#include "render/render_settings.h"

// What the pre-render learnt of the frame and the render needs: where the input layer lies and
// which part of it the input checkout holds, on the grid the host gives rectangles on.
struct FramePlacement {
    PF_LRect layer;
    PF_LRect inputPart;
};
void DeleteFramePlacement(void* placement);

// The frame is the input layer's extent, and the input buffer lies where the pre-render's
// checkout put it. A host that sent no pre-render (or lost its data) gets the buffer as the frame,
// which needs `inputWorld` set.
void PlaceFrame(const FramePlacement* placement, myParams* params);

// Checks out every control at the frame's time into `defs` (indexed by parameter position), each
// checked in again at once. Returns the first checkout error, or else the first check-in error
// (also left in `checkin_err`).
PF_Err CheckoutControls(PF_InData* in_data, PF_ParamDef defs[], PF_Err* checkin_err);

// Renders a frame whose settings are resolved and whose buffers are set: a copy of the input where
// that is the picture (CopyInputFrame), otherwise on the calling thread's record (made from
// `global_record` on first use) under globalMutex: what the smart render does
// once the host's buffers and controls are in hand, for any host. Failures are reported through
// the message sink. `clear_output` is set when the output may hold part of a picture and must be
// cleared.
PF_Err RenderResolvedFrame(myParams* params, LocalGLStruct* global_record, PF_OutData* out_data,
                           bool* clear_output);

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);
