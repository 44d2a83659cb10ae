#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "standalone/cli.h"
#include "standalone/cli_args.h"
#include "standalone/editor_descriptions.h"
#include "standalone/frei0r_params.h"
#include "standalone/hugepages.h"
#include "standalone/instance.h"
#include "standalone/json.h"
#include "standalone/module.h"
#include "standalone/number_text.h"
#include "standalone/output_file.h"
#include "standalone/session.h"
#include "standalone/settings.h"
#include "standalone/undo.h"

namespace vexo_host {
namespace {

struct InfoOptions {
    std::string module = DefaultModulePath();
    bool json = false;
    bool frei0r = false;
    std::string editors;  // the folder for the editors' descriptions of the frei0r modules
    std::string pipl_dump;
    std::vector<SetRequest> sets;
    long long frame = 0;  // the values shown are those at this frame
};

std::string VersionText(uint32_t v) {
    static const char* const kStages[] = {"develop", "alpha", "beta", "release"};
    return std::to_string((v >> 19) & 7) + "." + std::to_string((v >> 15) & 0xF) + "." +
           std::to_string((v >> 11) & 0xF) + " " + kStages[(v >> 9) & 3] + " build " +
           std::to_string(v & 0x1FF);
}

const char* KindText(PF_ParamType type) {
    switch (type) {
        case PF_Param_LAYER:
            return "layer";
        case PF_Param_POPUP:
            return "popup";
        case PF_Param_CHECKBOX:
            return "checkbox";
        case PF_Param_FLOAT_SLIDER:
            return "slider";
        case PF_Param_ANGLE:
            return "angle";
        case PF_Param_BUTTON:
            return "button";
        case PF_Param_GROUP_START:
            return "group";
        default:
            return "other";
    }
}

std::string SliderValueText(const PF_FloatSliderDef& s, double v) {
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f%s", int(s.precision), v,
                  (s.display_flags & PF_ValueDisplayFlag_PERCENT) ? "%" : "");
    return buf;
}

std::string PopupEntryText(const std::vector<std::string>& entries, A_long value) {
    return value >= 1 && std::size_t(value) <= entries.size() ? entries[std::size_t(value) - 1]
                                                              : "#" + std::to_string(value);
}

// What one control shows beside its name: value, default, range or entries.
std::string ControlDetail(const Instance& instance, PF_ParamIndex index, long long frame) {
    const ParamStream& param = instance.params[std::size_t(index)];
    const PF_ParamDef def = DefAt(instance, index, frame, 1);
    std::string out;
    switch (def.param_type) {
        case PF_Param_LAYER:
            out = def.u.ld.dephault == PF_LayerDefault_NONE ? "none chosen (default none)"
                                                            : "this layer";
            break;
        case PF_Param_POPUP: {
            const std::vector<std::string> entries = SplitEntries(param.entries);
            out = PopupEntryText(entries, def.u.pd.value) + " (default " +
                  PopupEntryText(entries, def.u.pd.dephault) + "; entries";
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (IsSeparatorEntry(entries[i])) continue;
                out += " " + std::to_string(i + 1) + " " + entries[i] +
                       (i + 1 < entries.size() ? "," : "");
            }
            out += ")";
            break;
        }
        case PF_Param_CHECKBOX:
            out = std::string(def.u.bd.value ? "on" : "off") + " (default " +
                  (def.u.bd.dephault ? "on" : "off") + ")";
            break;
        case PF_Param_FLOAT_SLIDER: {
            const PF_FloatSliderDef& s = def.u.fs_d;
            out = SliderValueText(s, s.value) + " (default " + SliderValueText(s, s.dephault) +
                  "; valid " + ShortestText(s.valid_min) + " to " + ShortestText(s.valid_max) +
                  ", slider " + ShortestText(s.slider_min) + " to " + ShortestText(s.slider_max) +
                  ")";
            break;
        }
        case PF_Param_ANGLE:
            out = ShortestText(ValueAt(param, frame, 1)) + " degrees (default " +
                  ShortestText(def.u.ad.dephault / 65536.0) + ")";
            break;
        case PF_Param_GROUP_START: {
            const bool empty =
                std::size_t(index) + 1 < instance.params.size() &&
                instance.params[std::size_t(index) + 1].def.param_type == PF_Param_GROUP_END;
            out = empty                                        ? "empty"
                  : (def.flags & PF_ParamFlag_START_COLLAPSED) ? "collapsed"
                                                               : "open";
            break;
        }
        default:
            break;
    }
    if (HasValue(def.param_type) && !param.time_varying) out += ", cannot vary over time";
    if (!param.keys.empty()) out += ", keyframed";
    if (!IsEnabled(instance, index)) out += ", disabled";
    return out;
}

void PrintControls(const Instance& instance, long long frame) {
    int shown = 0;
    std::string lines;
    int depth = 0;
    for (std::size_t i = 1; i < instance.params.size(); ++i) {
        const PF_ParamIndex index = PF_ParamIndex(i);
        const ParamStream& param = instance.params[i];
        const PF_ParamType type = param.def.param_type;
        if (type == PF_Param_GROUP_END) {
            if (depth > 0) --depth;
            continue;
        }
        const bool visible = IsShown(instance, index);
        if (type == PF_Param_GROUP_START) ++depth;
        if (!visible) continue;
        ++shown;
        const int indent = 2 + 2 * (depth - (type == PF_Param_GROUP_START ? 1 : 0));
        char head[96];
        std::snprintf(head, sizeof head, "%*s%-*s %-9s", indent, "", 30 - indent,
                      DisplayName(param).c_str(), KindText(type));
        lines += std::string(head) + " " + ControlDetail(instance, index, frame);
        while (!lines.empty() && lines.back() == ' ') lines.pop_back();
        lines += "\n";
    }
    const bool animated = std::any_of(instance.params.begin(), instance.params.end(),
                                      [](const ParamStream& p) { return !p.keys.empty(); });
    std::printf("\nControls (%d shown of %zu declared)%s\n%s", shown, instance.params.size() - 1,
                animated ? (" at frame " + std::to_string(frame)).c_str() : "", lines.c_str());
    const std::vector<std::string> history = UndoHistory();
    if (!history.empty()) {
        std::printf("Undo steps (oldest first):");
        for (std::size_t i = 0; i < history.size(); ++i) {
            std::printf("%s \"%s\"", i ? "," : "", history[i].c_str());
        }
        std::printf("\n");
    }
}

void WriteParams(const Instance& instance, long long frame, JsonWriter* j) {
    j->BeginArray("params");
    for (std::size_t i = 0; i < instance.params.size(); ++i) {
        const PF_ParamIndex index = PF_ParamIndex(i);
        const ParamStream& param = instance.params[i];
        const PF_ParamDef def = DefAt(instance, index, frame, 1);
        const PF_ParamType type = def.param_type;
        const bool input = i == 0;
        const bool slider = type == PF_Param_FLOAT_SLIDER;
        j->BeginObject().Int("index", index);
        if (input) {
            j->Null("id");
        } else {
            j->Int("id", def.uu.id);
        }
        j->String("name", def.name)
            .String("text", param.text)
            .String("type", ParamTypeName(type))
            .Int("flags", def.flags)
            .Int("ui_flags", def.ui_flags);
        const PF_FloatSliderDef& s = def.u.fs_d;
        for (const auto& [key, bound] : {std::pair<const char*, float>{"valid_min", s.valid_min},
                                         {"valid_max", s.valid_max},
                                         {"slider_min", s.slider_min},
                                         {"slider_max", s.slider_max}}) {
            if (slider) {
                j->Raw(key, ShortestText(bound));
            } else {
                j->Null(key);
            }
        }
        if (slider) {
            j->Int("precision", s.precision).Int("display_flags", s.display_flags);
        } else {
            j->Null("precision").Null("display_flags");
        }
        switch (type) {
            case PF_Param_LAYER:
                if (input) {
                    j->Null("default").Null("value");
                } else {
                    // No layer records yet: a map layer stays as declared.
                    j->Int("default", def.u.ld.dephault).Int("value", def.u.ld.dephault);
                }
                break;
            case PF_Param_POPUP:
                j->Int("default", def.u.pd.dephault).Int("value", def.u.pd.value);
                break;
            case PF_Param_CHECKBOX:
                j->Int("default", def.u.bd.dephault).Int("value", def.u.bd.value);
                break;
            case PF_Param_FLOAT_SLIDER:
                j->Raw("default", ShortestText(s.dephault)).Raw("value", ShortestText(s.value));
                break;
            case PF_Param_ANGLE:
                j->Raw("default", ShortestText(def.u.ad.dephault / 65536.0))
                    .Raw("value", ShortestText(ValueAt(param, frame, 1)));
                break;
            case PF_Param_BUTTON:
                j->Null("default").Int("value", def.u.button_d.value);
                break;
            default:
                j->Null("default").Null("value");
                break;
        }
        if (type == PF_Param_POPUP) {
            j->String("popup", param.entries);
        } else {
            j->Null("popup");
        }
        j->Bool("visible", IsShown(instance, index)).Bool("time_varying", param.time_varying);
        j->EndObject();
    }
    j->EndArray();
    j->BeginArray("undo");
    for (const std::string& step : UndoHistory()) j->String(nullptr, step);
    j->EndArray();
}

void PrintText(const Session& s, const std::string& about, const Instance* instance,
               long long frame) {
    const PiPLInfo& p = s.module.pipl;
    std::printf("%s\n", about.c_str());
    std::printf("Module        %s\n", s.module.path.c_str());
    std::printf("Huge pages    %s\n", HugePagesStatus().c_str());
    std::printf("Property list %zu properties\n", p.properties.size());
    std::printf("  kind        %s\n", p.kind.c_str());
    std::printf("  name        %s\n", p.name.c_str());
    std::printf("  category    %s\n", p.category.c_str());
    std::printf("  match name  %s\n", p.match_name.c_str());
    std::printf("  entry point %s\n", p.entry_point.c_str());
    std::printf("  list        %u.%u, effect API %u.%u\n", p.pipl_version[0], p.pipl_version[1],
                p.api_version[0], p.api_version[1]);
    std::printf("  version     %s (%s)\n", HexText(p.effect_version).c_str(),
                VersionText(p.effect_version).c_str());
    std::printf("  out flags   %s, out flags 2 %s\n", HexText(p.out_flags).c_str(),
                HexText(p.out_flags2).c_str());
    if (instance) PrintControls(*instance, frame);
}

void PrintJson(const Session& s, const std::string& about, const Instance* instance,
               long long frame) {
    const PiPLInfo& p = s.module.pipl;
    JsonWriter j;
    j.BeginObject().String("about", about).String("module", s.module.path);
    j.Bool("huge_pages", HugePagesRequested());
    j.BeginObject("pipl")
        .String("kind", p.kind)
        .String("name", p.name)
        .String("category", p.category)
        .String("match_name", p.match_name)
        .String("entry_point", p.entry_point)
        .String("pipl_version",
                std::to_string(p.pipl_version[0]) + "." + std::to_string(p.pipl_version[1]))
        .String("api_version",
                std::to_string(p.api_version[0]) + "." + std::to_string(p.api_version[1]))
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
    if (instance) WriteParams(*instance, frame, &j);
    j.EndObject();
    std::printf("%s\n", j.str().c_str());
}

constexpr const char* kInfoUsage =
    "usage: vexorant info [--json] [--set NAME=VALUE]... [--frame N] [--module PATH]\n"
    "       vexorant info --pipl-dump FILE [--module PATH]\n"
    "       vexorant info --frei0r [--module PATH]\n"
    "       vexorant info --editors DIR [--module PATH]\n";

constexpr const char* kInfoDetails =
    "\n"
    "Prints the effect's about text, its property list and its controls as the user sees them\n"
    "after the edits given with --set.\n"
    "  --json             the same as JSON, with every parameter under \"params\"\n"
    "  --pipl-dump FILE   writes the module's property list, as stored, to FILE\n"
    "  --frei0r           the controls as the frei0r modules' parameters, as a Markdown table\n"
    "  --editors DIR      writes Kdenlive's and Shotcut's descriptions of the frei0r modules\n"
    "                     into DIR/kdenlive and DIR/shotcut\n"
    "  --frame N          the values at frame N of keyframed controls (default 0)\n"
    "  --module PATH      the effect module (default: the one beside vexorant)\n"
    "\n"
    "control edits:\n";

CliCommand InfoCommand(InfoOptions* o) {
    CliCommand c;
    c.name = "info";
    c.usage = kInfoUsage;
    c.details = std::string(kInfoDetails) + kSetUsage;
    c.options = {
        {"--json", false, false, [o](const std::string&, std::string*) { return o->json = true; }},
        {"--frei0r", false, false,
         [o](const std::string&, std::string*) { return o->frei0r = true; }},
        {"--editors", true, false,
         [o](const std::string& value, std::string*) { return o->editors = value, true; }},
        {"--module", true, false,
         [o](const std::string& value, std::string*) { return o->module = value, true; }},
        {"--pipl-dump", true, false,
         [o](const std::string& value, std::string*) { return o->pipl_dump = value, true; }},
        SetOption(&o->sets),
        {"--frame", true, false,
         [o](const std::string& value, std::string* error) {
             if (!ParseWholeNumber(value, 0, 2147483647, &o->frame)) {
                 return *error = "--frame takes a whole number from 0 to 2147483647", false;
             }
             return true;
         }},
    };
    // The dump is the module's bytes alone: edits and JSON would have nothing to act on.
    c.conflicts = {
        {"--pipl-dump", "--json"}, {"--pipl-dump", "--set"},  {"--pipl-dump", "--frei0r"},
        {"--frei0r", "--json"},    {"--frei0r", "--set"},     {"--pipl-dump", "--frame"},
        {"--frei0r", "--frame"},   {"--editors", "--json"},   {"--editors", "--set"},
        {"--editors", "--frame"},  {"--editors", "--frei0r"}, {"--editors", "--pipl-dump"}};
    return c;
}

}  // namespace

int Complain(int code, const std::string& text) {
    std::fprintf(stderr, "vexorant: %s\n", text.c_str());
    return code;
}

int RunInfo(const Args& args) {
    InfoOptions o;
    const CliCommand command = InfoCommand(&o);
    int code = 0;
    if (!ParseCommandLine(command, args, &code)) return code;

    if (!o.pipl_dump.empty()) {
        std::vector<uint8_t> bytes;
        std::string error;
        const std::string module = ModuleFilePath(o.module);
        if (SameFile(o.pipl_dump, module)) {
            return Complain(1, "cannot write " + o.pipl_dump + ": it is the effect module");
        }
        if (!ReadModulePiPL(module, &bytes, &error)) return Complain(1, error);
        if (!WriteWholeFile(o.pipl_dump, bytes.data(), bytes.size(), &error)) {
            return Complain(1, error);
        }
        std::printf("wrote %zu bytes of property list to %s\n", bytes.size(), o.pipl_dump.c_str());
        return 0;
    }

    Session session;
    std::string error;
    if (!OpenSession(o.module, &session, &error)) return Complain(1, error);
    if (o.frei0r || !o.editors.empty()) {
        std::vector<Frei0rParam> params;
        bool built = BuildFrei0rParams(&session.effect, &params, &error);
        if (built && o.frei0r) std::printf("%s", Frei0rTable(params).c_str());
        if (built && !o.editors.empty()) {
            built = WriteEditorDescriptions(o.editors, params, &error);
        }
        std::vector<std::string> problems = CloseSession(&session);
        if (!built) problems.insert(problems.begin(), error);
        for (const std::string& p : problems) Complain(1, p);
        return problems.empty() ? 0 : 1;
    }
    std::string about;
    const PF_Err about_err = SendAbout(session.effect, &about);
    std::vector<std::string> problems;
    if (about_err) problems.push_back("about failed with host error " + std::to_string(about_err));

    // One instance, as when the user applies the effect; it must go before global setdown.
    auto instance = std::make_unique<Instance>(&session.effect);
    bool controls_ok = false;
    if (const PF_Err err = SetupInstance(instance.get())) {
        problems.push_back("parameter setup failed with host error " + std::to_string(err) +
                           (instance->refusal.empty() ? "" : " (" + instance->refusal + ")"));
    } else {
        const int code = ApplySetRequests(instance.get(), o.sets, &error);
        if (code == 2) {
            instance.reset();
            ClearUndo();
            CloseSession(&session);
            return Complain(2, "info: " + error);
        }
        if (code) problems.push_back(error);
        controls_ok = true;
    }
    for (const std::string& m : instance->messages) problems.push_back("the effect says: " + m);

    const Instance* shown = controls_ok ? instance.get() : nullptr;
    if (o.json) {
        PrintJson(session, about, shown, o.frame);
    } else {
        PrintText(session, about, shown, o.frame);
    }
    for (const std::string& p : InstanceProblems(*instance)) problems.push_back(p);
    instance.reset();
    ClearUndo();
    for (const std::string& p : CloseSession(&session)) problems.push_back(p);
    for (const std::string& p : problems) Complain(1, p);
    return problems.empty() ? 0 : 1;
}

}  // namespace vexo_host
