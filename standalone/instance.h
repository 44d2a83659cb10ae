// One effect instance as the host keeps it: the declared parameters, their streams, and how the
// controls are shown. The `effect_ref` handed to the effect is a pointer to the Instance.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "AE_Effect.h"
#include "AE_GeneralPlug.h"
#include "standalone/host.h"
#include "standalone/undo.h"

namespace vexo_host {

// One parameter: its definition as declared, its stream, and what the user sees of it.
struct ParamStream {
    PF_ParamDef def{};    // as declared; its text pointers are set afresh in every copy handed out
    std::string entries;  // a popup's "|"-separated entries
    std::string text;     // the box text beside a checkbox, or a button's caption
    // Stream units: popup entry (1-based), checkbox 0/1, angle in degrees, slider as shown.
    double value = 0;
    // Keyframes in increasing frames; none: `value` holds at every time.
    std::vector<Keyframe> keys;
    bool time_varying = false;
    AEGP_DynStreamFlags dyn_flags = 0;  // bits of AEGP_DynStreamFlag_HIDDEN and _DISABLED
    // As the effect last set them through PF_UpdateParamUI.
    std::string shown_name;
    PF_ParamFlags shown_flags = 0;
    PF_ParamUIFlags shown_ui_flags = 0;
};

constexpr PF_Cmd kNoCommand = -1;

struct Instance {
    explicit Instance(const Effect* effect);
    ~Instance();
    Instance(const Instance&) = delete;
    Instance& operator=(const Instance&) = delete;

    const Effect* effect;
    std::vector<ParamStream> params;  // [0] is the input layer, supplied by the host
    bool set_up = false;
    int open_groups = 0;                // group starts declared and not yet closed
    std::string refusal;                // why the host last refused one of the effect's calls
    std::vector<std::string> messages;  // texts the effect asked the host to show
    // The frame rate: frame N is at time N * time_step, in 1/time_scale seconds.
    A_u_long time_scale = 24;
    A_long time_step = 1;
    // Parameter checkouts not yet checked in, with the thread that made each: a frame's
    // checkouts are its thread's, while other threads render other frames.
    std::multiset<std::pair<std::thread::id, const PF_ParamDef*>> checkouts;
    mutable std::mutex mutex;  // streams and checkouts; render threads check out concurrently
};

// Marks the calling thread as sending `cmd` to the instance until the scope ends. What the
// effect may ask of the host depends on it; other threads (render threads among them) are in no
// command of the instance meanwhile.
struct CommandScope {
    CommandScope(Instance* instance, PF_Cmd cmd);
    ~CommandScope();
    CommandScope(const CommandScope&) = delete;
    CommandScope& operator=(const CommandScope&) = delete;
    Instance* previous_instance;
    PF_Cmd previous_cmd;
};

// The command the calling thread is sending to the instance; kNoCommand for none.
PF_Cmd CommandOnThisThread(const Instance* instance);
// The instance the calling thread is sending a command to, else the one whose frame it renders.
Instance* InstanceOnThisThread();

// Refuses a call of the effect unless the calling thread is sending one of `allowed` to the
// instance: returns PF_Err_BAD_CALLBACK_PARAM and keeps why in the instance's `refusal`.
PF_Err RefuseOutside(Instance* instance, std::initializer_list<PF_Cmd> allowed, const char* call);

// The instance an `effect_ref` names, or null when it names none alive.
Instance* InstanceFromRef(PF_ProgPtr effect_ref);
inline PF_ProgPtr RefOf(Instance* instance) { return reinterpret_cast<PF_ProgPtr>(instance); }

// in_data for a command to this instance, with the parameter callbacks of `inter`.
PF_InData MakeInstanceInData(Instance* instance);

// Sends a command with the current parameters in `params`. Keeps any message the effect asks
// the host to show.
PF_Err SendToInstance(Instance* instance, PF_Cmd cmd, PF_OutData* out_data, void* extra);

// Parameter setup, checked as the application checks it, then the first interface update.
PF_Err SetupInstance(Instance* instance);
PF_Err SendUpdateParamsUI(Instance* instance);
PF_Err SendUserChangedParam(Instance* instance, PF_ParamIndex index);

// Edits as the user makes them: one undo step, and for a supervised control the user-changed
// command followed by an interface update.
PF_Err UserSetValue(Instance* instance, PF_ParamIndex index, double value);
// Keyframes in increasing frames, replacing the stream's value or animation.
PF_Err UserSetKeys(Instance* instance, PF_ParamIndex index, const std::vector<Keyframe>& keys);
PF_Err UserPressButton(Instance* instance, PF_ParamIndex index);

// Reverts the newest undo step and refreshes the interface of every instance it touched.
// False when there is nothing to undo; `err` gets the first error of those updates.
bool UndoLastStep(PF_Err* err = nullptr);

// The definition as the effect receives it now: current value, shown name and flags.
PF_ParamDef CurrentDef(const Instance& instance, PF_ParamIndex index);
// The same with the value at frame `frames` / `per` (a fraction of frames between keyframes):
// sliders and angles linear between keyframes, popups and checkboxes held until the next.
PF_ParamDef DefAt(const Instance& instance, PF_ParamIndex index, int64_t frames, int64_t per);
// A stream's value there, in the stream's units.
double ValueAt(const ParamStream& param, int64_t frames, int64_t per);
// Neither hidden itself nor inside a hidden group.
bool IsShown(const Instance& instance, PF_ParamIndex index);
bool IsEnabled(const Instance& instance, PF_ParamIndex index);
// The label the user reads: the shown name, or for an unnamed checkbox or button its text.
std::string DisplayName(const ParamStream& param);
std::size_t OutstandingCheckouts(const Instance& instance);
// Those made on one thread.
std::size_t OutstandingCheckouts(const Instance& instance, std::thread::id thread);

// What an instance still holds that it should have given back: effect handles, stream
// references, checkouts, an open undo group.
std::vector<std::string> InstanceProblems(const Instance& instance);

// --- Shared with the host's suites.

// The SDK constant without its prefix ("FLOAT_SLIDER"), or "UNKNOWN".
const char* ParamTypeName(PF_ParamType type);
std::vector<std::string> SplitEntries(const std::string& entries);
inline bool IsSeparatorEntry(const std::string& entry) { return entry.rfind("(-", 0) == 0; }
bool HasValue(PF_ParamType type);

// Whether a 16.16 fixed-point value such as an angle in degrees holds `value`, once rounded to
// its 1/65536 steps: -32768 up to 1/65536 below 32768. Beyond that a value would wrap around.
bool FitsFixed(double value);

// Writes a stream value as AEGP_SetStreamValue does, noting the undo step. A value replaces
// any keyframes; given `keys`, they replace the value.
PF_Err WriteStream(Instance* instance, PF_ParamIndex index, double value,
                   const std::string& step_name, const std::vector<Keyframe>& keys = {});
PF_Err SetDynamicFlag(Instance* instance, PF_ParamIndex index, AEGP_DynStreamFlags flag,
                      bool undoable, bool set);
PF_Err UpdateShownParam(Instance* instance, PF_ParamIndex index, const PF_ParamDef* def);

}  // namespace vexo_host
