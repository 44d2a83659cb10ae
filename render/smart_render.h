// The render command: one frame from the checked-out layers and controls, on the calling
// thread's context.
#pragma once
#include "AE_Effect.h"

PF_Err SmartRender(PF_InData* in_data, PF_OutData* out_data, PF_SmartRenderExtra* extra);
