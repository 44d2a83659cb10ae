// The AEGP suites and the parameter utility suite, as the application provides them to effects:
// effect handles and stream references name streams of an Instance.
#pragma once
#include "standalone/instance.h"

namespace vexo_host {

// Registers "AEGP PF Interface Suite" 1, "AEGP Utility Suite" 7, "AEGP Stream Suite" 7 and 9,
// "AEGP Dynamic Stream Suite" 2, "PF Param Utils Suite" 3 and "AEGP Effect Suite" 2 and 3.
// Every new Instance registers them again.
// Each entry that can fail consults InjectedFailure under its own name, e.g.
// "AEGP_SetStreamValue".
void RegisterAegpSuites();

// Handles the effect obtained and has not disposed of yet.
int LiveEffectRefs(const Instance* instance);
int LiveStreamRefs(const Instance* instance);
// Invalidates every handle of an instance that goes away.
void ForgetInstanceRefs(const Instance* instance);

// The texts the effect reported through AEGP_ReportInfo, oldest first.
std::vector<std::string> ReportedInfo();
void ClearReportedInfo();

}  // namespace vexo_host
