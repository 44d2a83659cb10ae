// One run of the host with a loaded module: load, global setup, then setdown and a check that
// the effect gave back every suite and handle it took.
#pragma once
#include <string>
#include <vector>

#include "standalone/host.h"
#include "standalone/module.h"

namespace vexo_host {

struct Session {
    LoadedModule module;
    Effect effect;
};

// Loads the module and starts it. On failure returns false with a message.
bool OpenSession(const std::string& module_path, Session* session, std::string* error);
// Sends global setup to a loaded module and holds what it declares against its property list:
// the version and both flag words must agree, as the application requires before it offers the
// effect. On failure the module is set down and unloaded, and false comes back with a message.
bool StartSession(Session* session, std::string* error);
// Sends global setdown and unloads. Returns the problems found: a setdown error, suites still
// acquired, handles still alive.
std::vector<std::string> CloseSession(Session* session);

}  // namespace vexo_host
