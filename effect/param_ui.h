// Reactions to the user's edits: the reset buttons, and which controls are shown.
#pragma once
#include "AE_GeneralPlug.h"
#include "params/param_table.h"
#include "host/AEGP_SuiteHandler.h"

// A reset button and the controls it puts back to their declared defaults, as one undo step.
struct ResetGroup {
    PF_ParamIndex button;
    const char* undo_name;
    PF_ParamIndex streams[8];  // ascending
    int count;
};

// The reset group of a button, or null for any other control.
const ResetGroup* FindResetGroup(PF_ParamIndex button);

// Shows (`hide` 0) or hides (`hide` 1) the control at `index`; not undoable.
A_Err hideStream(AEGP_SuiteHandler* suites, int index, AEGP_EffectRefH* effect, unsigned char hide);
