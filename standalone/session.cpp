#include "standalone/session.h"

#include <cstdint>

#include "standalone/number_text.h"
#include "standalone/suites.h"

namespace vexo_host {

namespace {

// Where the property list and global setup disagree, one line each.
std::vector<std::string> PiPLDisagreements(const PiPLInfo& pipl, const Effect& effect) {
    std::vector<std::string> out;
    if (pipl.effect_version != effect.version) {
        out.push_back("version " + HexText(pipl.effect_version) + " in the property list, " +
                      HexText(effect.version) + " at global setup");
    }
    if (pipl.out_flags != uint32_t(effect.out_flags)) {
        out.push_back("out flags " + HexText(pipl.out_flags) + " in the property list, " +
                      HexText(uint32_t(effect.out_flags)) + " at global setup");
    }
    if (pipl.out_flags2 != uint32_t(effect.out_flags2)) {
        out.push_back("out flags 2 " + HexText(pipl.out_flags2) + " in the property list, " +
                      HexText(uint32_t(effect.out_flags2)) + " at global setup");
    }
    return out;
}

}  // namespace

bool OpenSession(const std::string& module_path, Session* session, std::string* error) {
    if (!LoadModule(module_path, &session->module, error)) return false;
    return StartSession(session, error);
}

bool StartSession(Session* session, std::string* error) {
    session->effect = Effect{};
    session->effect.entry = session->module.entry;
    if (const PF_Err err = SendGlobalSetup(&session->effect)) {
        *error = "global setup failed with host error " + std::to_string(err);
        UnloadModule(&session->module);
        return false;
    }
    const std::vector<std::string> disagreements =
        PiPLDisagreements(session->module.pipl, session->effect);
    if (!disagreements.empty()) {
        *error = session->module.path +
                 ": the property list does not promise what global setup declares: ";
        for (std::size_t i = 0; i < disagreements.size(); ++i) {
            *error += (i ? "; " : "") + disagreements[i];
        }
        SendGlobalSetdown(&session->effect);
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
