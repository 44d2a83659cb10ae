// The host's undo journal. Like the application's, it is one list for the whole project: an
// undo group (which may nest; the outermost names it) is one step, and so is every change made
// outside a group. It keeps the newest kUndoSteps steps, as the application keeps its undo
// levels, so that a long session of edits holds a bounded journal.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "AE_Effect.h"
#include "AE_GeneralPlug.h"

namespace vexo_host {

struct Instance;

constexpr std::size_t kUndoSteps = 100;

// A stream's value at a frame of the render, in the stream's units.
struct Keyframe {
    A_long frame;
    double value;
};

// A stream as it was before the step first changed it.
struct UndoChange {
    Instance* instance;
    PF_ParamIndex index;
    double value;
    AEGP_DynStreamFlags dyn_flags;
    std::vector<Keyframe> keys;
};

struct UndoStep {
    std::string name;
    std::vector<UndoChange> changes;
};

void BeginUndoGroup(const std::string& name);
// False when no group is open.
bool EndUndoGroup();
bool UndoGroupOpen();

// Notes a stream's state before a change. Inside a group only the first change of each stream
// is kept; outside one the change becomes a step of its own named `name_if_alone`.
void NoteChange(const UndoChange& before, const std::string& name_if_alone);

// Step names, oldest first. Groups that changed nothing leave no step.
std::vector<std::string> UndoHistory();
// Removes the newest step into `step`; false when there is none or a group is still open.
bool TakeLastUndoStep(UndoStep* step);
// Drops every change of an instance that goes away.
void ForgetInstance(const Instance* instance);
void ClearUndo();

}  // namespace vexo_host
