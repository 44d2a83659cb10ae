#include <cstdio>
#include <fstream>

#include "cli.h"
#include "json.h"
#include "session.h"

namespace vexo_host {
namespace {

struct InfoOptions {
    std::string module = DefaultModulePath();
    bool json = false;
    std::string pipl_dump;
};

std::string Hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

std::string VersionText(uint32_t v) {
    static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
    return std::to_string((v >> 19) & 7) + "." + std::to_string((v >> 15) & 0xF) + "." +
           std::to_string((v >> 11) & 0xF) + " " + kStages[(v >> 9) & 3] + " build " +
           std::to_string(v & 0x1FF);
}

// The property list must promise what global setup declares.
std::vector<std::string> Disagreements(const PiPLInfo& pipl, const Effect& effect) {
    std::vector<std::string> out;
    if (pipl.effect_version != effect.version) {
        out.push_back("version " + Hex(pipl.effect_version) + " in the property list, " +
                      Hex(effect.version) + " at global setup");
    }
    if (pipl.out_flags != uint32_t(effect.out_flags)) {
        out.push_back("out flags " + Hex(pipl.out_flags) + " in the property list, " +
                      Hex(uint32_t(effect.out_flags)) + " at global setup");
    }
    if (pipl.out_flags2 != uint32_t(effect.out_flags2)) {
        out.push_back("out flags 2 " + Hex(pipl.out_flags2) + " in the property list, " +
                      Hex(uint32_t(effect.out_flags2)) + " at global setup");
    }
    return out;
}

void PrintText(const Session& s, const std::string& about) {
    const PiPLInfo& p = s.module.pipl;
    std::printf("%s\n", about.c_str());
    std::printf("Module        %s\n", s.module.path.c_str());
    std::printf("Property list %zu properties\n", p.properties.size());
    std::printf("  kind        %s\n", p.kind.c_str());
    std::printf("  name        %s\n", p.name.c_str());
    std::printf("  category    %s\n", p.category.c_str());
    std::printf("  match name  %s\n", p.match_name.c_str());
    std::printf("  entry point %s\n", p.entry_point.c_str());
    std::printf("  list        %u.%u, effect API %u.%u\n", p.pipl_version[0], p.pipl_version[1],
                p.api_version[0], p.api_version[1]);
    std::printf("  version     %s (%s)\n", Hex(p.effect_version).c_str(),
                VersionText(p.effect_version).c_str());
    std::printf("  out flags   %s, out flags 2 %s\n", Hex(p.out_flags).c_str(),
                Hex(p.out_flags2).c_str());
}

void PrintJson(const Session& s, const std::string& about) {
    const PiPLInfo& p = s.module.pipl;
    JsonWriter j;
    j.BeginObject().String("about", about).String("module", s.module.path);
    j.BeginObject("pipl")
        .String("kind", p.kind)
        .String("name", p.name)
        .String("category", p.category)
        .String("match_name", p.match_name)
        .String("entry_point", p.entry_point)
        .String("pipl_version", std::to_string(p.pipl_version[0]) + "." +
                                    std::to_string(p.pipl_version[1]))
        .String("api_version", std::to_string(p.api_version[0]) + "." +
                                   std::to_string(p.api_version[1]))
        .Int("version", p.effect_version)
        .Int("info_flags", p.info_flags)
        .Int("out_flags", p.out_flags)
        .Int("out_flags2", p.out_flags2)
        .Int("reserved_flags", p.reserved_flags)
        .EndObject();
    j.BeginObject("global_setup")
        .Int("version", s.effect.version)
        .Int("out_flags", s.effect.out_flags)
        .Int("out_flags2", s.effect.out_flags2)
        .EndObject();
    j.EndObject();
    std::printf("%s\n", j.str().c_str());
}

}  // namespace

int Complain(int code, const std::string& text) {
    std::fprintf(stderr, "vexorant: %s\n", text.c_str());
    return code;
}

int RunInfo(const Args& args) {
    InfoOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool has_value = i + 1 < args.size();
        if (a == "--json") {
            o.json = true;
        } else if (a == "--module" && has_value) {
            o.module = args[++i];
        } else if (a == "--pipl-dump" && has_value) {
            o.pipl_dump = args[++i];
        } else {
            return Complain(2, "info: unexpected argument '" + a + "'");
        }
    }

    if (!o.pipl_dump.empty()) {
        std::vector<uint8_t> bytes;
        std::string error;
        if (!ReadModulePiPL(o.module, &bytes, &error)) return Complain(1, error);
        std::ofstream out(o.pipl_dump, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        if (!out.flush()) return Complain(1, "cannot write " + o.pipl_dump);
        std::printf("wrote %zu bytes of property list to %s\n", bytes.size(), o.pipl_dump.c_str());
        return 0;
    }

    Session session;
    std::string error;
    if (!OpenSession(o.module, &session, &error)) return Complain(1, error);
    std::string about;
    const PF_Err about_err = SendAbout(session.effect, &about);
    std::vector<std::string> problems = Disagreements(session.module.pipl, session.effect);
    if (about_err) problems.push_back("about failed with host error " + std::to_string(about_err));
    if (o.json) {
        PrintJson(session, about);
    } else {
        PrintText(session, about);
    }
    for (const std::string& p : CloseSession(&session)) problems.push_back(p);
    for (const std::string& p : problems) Complain(1, p);
    return problems.empty() ? 0 : 1;
}

int RunDemo(const Args& args) { return RunInfo(args); }

}  // namespace vexo_host
