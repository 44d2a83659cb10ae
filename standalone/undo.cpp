#include "standalone/undo.h"

#include <algorithm>
#include <mutex>

namespace vexo_host {
namespace {

struct Journal {
    std::mutex mutex;
    std::vector<UndoStep> steps;
    UndoStep open;
    int depth = 0;
};

Journal& J() {
    static Journal* journal = new Journal;  // instances may go away during static teardown
    return *journal;
}

void Keep(Journal& j, UndoStep step) {
    if (j.steps.size() == kUndoSteps) j.steps.erase(j.steps.begin());
    j.steps.push_back(std::move(step));
}

void Close(Journal& j) {
    if (!j.open.changes.empty()) Keep(j, std::move(j.open));
    j.open = UndoStep{};
}

}  // namespace

void BeginUndoGroup(const std::string& name) {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (j.depth++ == 0) j.open.name = name;
}

bool EndUndoGroup() {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (j.depth == 0) return false;
    if (--j.depth == 0) Close(j);
    return true;
}

bool UndoGroupOpen() {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    return j.depth > 0;
}

void NoteChange(const UndoChange& before, const std::string& name_if_alone) {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (j.depth == 0) {
        Keep(j, UndoStep{name_if_alone, {before}});
        return;
    }
    const bool seen =
        std::any_of(j.open.changes.begin(), j.open.changes.end(), [&](const UndoChange& c) {
            return c.instance == before.instance && c.index == before.index;
        });
    if (!seen) j.open.changes.push_back(before);
}

std::vector<std::string> UndoHistory() {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    std::vector<std::string> names;
    for (const UndoStep& step : j.steps) names.push_back(step.name);
    return names;
}

bool TakeLastUndoStep(UndoStep* step) {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    if (j.depth > 0 || j.steps.empty()) return false;
    *step = std::move(j.steps.back());
    j.steps.pop_back();
    return true;
}

void ForgetInstance(const Instance* instance) {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    auto gone = [instance](const UndoChange& c) { return c.instance == instance; };
    for (UndoStep& step : j.steps) {
        step.changes.erase(std::remove_if(step.changes.begin(), step.changes.end(), gone),
                           step.changes.end());
    }
    j.steps.erase(std::remove_if(j.steps.begin(), j.steps.end(),
                                 [](const UndoStep& s) { return s.changes.empty(); }),
                  j.steps.end());
    j.open.changes.erase(std::remove_if(j.open.changes.begin(), j.open.changes.end(), gone),
                         j.open.changes.end());
}

void ClearUndo() {
    Journal& j = J();
    std::lock_guard<std::mutex> lock(j.mutex);
    j.steps.clear();
    j.open = UndoStep{};
    j.depth = 0;
}

}  // namespace vexo_host
