// Placeholder until the render lands: the command succeeds without touching the output.
#include "handlers.h"

PF_Err SmartRender(PF_InData*, PF_OutData*, PF_SmartRenderExtra*) { return PF_Err_NONE; }
