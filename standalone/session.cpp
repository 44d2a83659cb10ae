#include "standalone/session.h"

#include "standalone/suites.h"

namespace vexo_host {

bool OpenSession(const std::string& module_path, Session* session, std::string* error) {
    if (!LoadModule(module_path, &session->module, error)) return false;
    session->effect = Effect{};
    session->effect.entry = session->module.entry;
    if (const PF_Err err = SendGlobalSetup(&session->effect)) {
        *error = "global setup failed with host error " + std::to_string(err);
        UnloadModule(&session->module);
        return false;
    }
    return true;
}

std::vector<std::string> CloseSession(Session* session) {
    std::vector<std::string> problems;
    if (session->effect.set_up) {
        if (const PF_Err err = SendGlobalSetdown(&session->effect)) {
            problems.push_back("global setdown failed with host error " + std::to_string(err));
        }
    }
    for (const std::string& suite : OutstandingSuites()) {
        problems.push_back("suite acquired and never released: " + suite);
    }
    if (const std::size_t live = LiveHandles()) {
        problems.push_back(std::to_string(live) + " memory handle(s) never disposed");
    }
    UnloadModule(&session->module);
    return problems;
}

}  // namespace vexo_host
