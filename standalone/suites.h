// The host side of suite access: the basic suite with acquire/release accounting, the suites the
// host provides, and, in the tests' build of the host (VEXO_HOST_TEST_HOOKS), a log of every
// acquire and release and hooks that let a test withhold a suite or make a host call fail.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "SPBasic.h"

namespace vexo_host {

// Marks worlds this host made with four floats per pixel (its own flag, not an SDK one).
constexpr PF_WorldFlags kFloatWorldFlag = PF_WorldFlags(1) << 30;

// The basic suite handed to effects in `pica_basicP`.
SPBasicSuite* BasicSuite();
// The utility callbacks handed to effects in `utils`.
PF_UtilCallbacks* UtilCallbacks();

// Makes a suite available under a name and version. Later registrations replace earlier ones.
void RegisterSuite(const char* name, int version, const void* table);

// Suites acquired and not yet released, as "name vN" once per outstanding acquire.
std::vector<std::string> OutstandingSuites();

// Memory handles given out by the handle suite and not yet disposed.
std::size_t LiveHandles();

#ifdef VEXO_HOST_TEST_HOOKS
// Every acquire and release since the last clear.
struct SuiteEvent {
    bool acquire;
    std::string name;
    int version;
    SPErr result;
};
std::vector<SuiteEvent> SuiteEvents();
void ClearSuiteEvents();

// Failure injection. A withheld suite is refused by the basic suite. A failing call returns the
// given error the next `times` times it is made (-1: until cleared).
void WithholdSuite(const std::string& name, int version);
void FailCall(const std::string& call, PF_Err err, int times = 1);
// Consumed by every host entry that can fail; returns the injected error or PF_Err_NONE.
PF_Err InjectedFailure(const char* call);
// A suite that reports success but hands back no table.
void NullSuite(const std::string& name, int version);
void ClearFailures();
#else
// The shipped programs make no failures up.
inline PF_Err InjectedFailure(const char*) { return PF_Err_NONE; }
#endif

}  // namespace vexo_host
