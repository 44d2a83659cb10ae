#include "standalone/settings.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace vexo_host {

const char* const kSetUsage =
    "  --set NAME=VALUE   edit a control as the user would, in the order given (repeatable).\n"
    "                     NAME is the visible name; the uniform-scale checkbox is \"Uniform "
    "Scale\".\n"
    "                     Sliders take the displayed units (percent sliders in percent), angles\n"
    "                     degrees, popups an entry or its 1-based position, checkboxes "
    "on/off/1/0.\n"
    "  --set NAME=VALUE@FRAME,VALUE@FRAME,...\n"
    "                     keyframes the control over the frames rendered: sliders and angles\n"
    "                     change linearly between keyframes, popups and checkboxes hold each\n"
    "                     value until the next; the first and last values hold before and after\n"
    "  --set BUTTON       press a button, e.g. --set \"Reset Transforms\"\n";

namespace {

std::string Trim(const std::string& s) {
    std::size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool SameText(const std::string& a, const std::string& b) { return Lower(a) == Lower(b); }

std::string Quoted(const std::string& s) { return "'" + s + "'"; }

// A whole-string decimal number.
bool ParseNumber(const std::string& text, double* out) {
    const std::string t = Trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(t.c_str(), &end);
    if (errno == ERANGE || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

std::string Number(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

bool IsGroupMarker(PF_ParamType type) {
    return type == PF_Param_GROUP_START || type == PF_Param_GROUP_END;
}

// Every label a control answers to: what it shows, and what it was declared as.
std::vector<std::string> Labels(const ParamStream& param) {
    std::vector<std::string> labels{DisplayName(param)};
    if (param.def.name[0] && param.def.name != labels[0]) labels.push_back(param.def.name);
    if (!param.text.empty() && param.def.param_type == PF_Param_CHECKBOX) {
        labels.push_back(param.text);
    }
    return labels;
}

// The control a name means. Exact matches win over matches that ignore case, and shown
// controls over hidden ones.
PF_ParamIndex FindControl(const Instance& instance, const std::string& name) {
    PF_ParamIndex best = 0;
    int best_rank = 0;
    for (std::size_t i = 1; i < instance.params.size(); ++i) {
        const ParamStream& param = instance.params[i];
        if (param.def.param_type == PF_Param_GROUP_END) continue;
        for (const std::string& label : Labels(param)) {
            if (label.empty()) continue;
            int rank = label == name ? 2 : SameText(label, name) ? 1 : 0;
            if (!rank) continue;
            rank = rank * 2 + (IsShown(instance, PF_ParamIndex(i)) ? 1 : 0);
            if (rank > best_rank) {
                best_rank = rank;
                best = PF_ParamIndex(i);
            }
        }
    }
    return best;
}

std::string VisibleControlNames(const Instance& instance) {
    std::string out;
    for (std::size_t i = 1; i < instance.params.size(); ++i) {
        const ParamStream& param = instance.params[i];
        if (IsGroupMarker(param.def.param_type) || !IsShown(instance, PF_ParamIndex(i))) continue;
        out += (out.empty() ? "" : ", ") + DisplayName(param);
    }
    return out;
}

bool ReadSlider(const ParamStream& param, const std::string& label, std::string value, double* out,
                std::string* error) {
    const PF_FloatSliderDef& s = param.def.u.fs_d;
    const bool percent = s.display_flags & PF_ValueDisplayFlag_PERCENT;
    value = Trim(value);
    if (percent && !value.empty() && value.back() == '%') value.pop_back();
    const std::string units = percent ? " percent" : "";
    if (!ParseNumber(value, out)) {
        *error = label + " takes a number" + units + ", not " + Quoted(value);
        return false;
    }
    if (*out < s.valid_min || *out > s.valid_max) {
        *error = label + " takes " + Number(s.valid_min) + " to " + Number(s.valid_max) + units +
                 "; " + Number(*out) + " is out of range";
        return false;
    }
    return true;
}

bool ReadPopup(const ParamStream& param, const std::string& label, const std::string& value,
               double* out, std::string* error) {
    const std::vector<std::string> entries = SplitEntries(param.entries);
    std::string choices;
    for (const std::string& e : entries) {
        if (!IsSeparatorEntry(e)) choices += (choices.empty() ? "" : ", ") + e;
    }
    const std::string wanted = Trim(value);
    double position = 0;
    if (ParseNumber(wanted, &position)) {
        if (position != std::floor(position) || position < 1 || position > double(entries.size())) {
            *error = label + " has entries 1 to " + std::to_string(entries.size()) + "; " +
                     Quoted(wanted) + " is not one of them";
            return false;
        }
    } else {
        for (std::size_t i = 0; i < entries.size() && !position; ++i) {
            if (SameText(entries[i], wanted)) position = double(i + 1);
        }
        if (!position) {
            *error = label + " has no entry " + Quoted(wanted) + " (entries: " + choices + ")";
            return false;
        }
    }
    if (IsSeparatorEntry(entries[std::size_t(position) - 1])) {
        *error = "entry " + Number(position) + " of " + label +
                 " is a separator and cannot be chosen (entries: " + choices + ")";
        return false;
    }
    *out = position;
    return true;
}

bool ReadCheckbox(const std::string& label, const std::string& value, double* out,
                  std::string* error) {
    const std::string v = Lower(Trim(value));
    if (v == "on" || v == "1") {
        *out = 1;
    } else if (v == "off" || v == "0") {
        *out = 0;
    } else {
        *error = label + " takes on, off, 1 or 0, not " + Quoted(value);
        return false;
    }
    return true;
}

// One value of a control, in displayed units, read as the stream holds it.
bool ReadValue(const ParamStream& param, const std::string& label, const std::string& text,
               double* out, std::string* error) {
    switch (param.def.param_type) {
        case PF_Param_FLOAT_SLIDER:
            return ReadSlider(param, label, text, out, error);
        case PF_Param_POPUP:
            return ReadPopup(param, label, text, out, error);
        case PF_Param_CHECKBOX:
            return ReadCheckbox(label, text, out, error);
        case PF_Param_ANGLE: {
            std::string v = Trim(text);
            if (v.size() >= 3 && v.compare(v.size() - 3, 3, "deg") == 0) v.resize(v.size() - 3);
            if (!ParseNumber(v, out)) {
                *error = label + " takes an angle in degrees, not " + Quoted(text);
                return false;
            }
            if (!FitsFixed(*out)) {
                *error = label + " takes -32768 to 32767.99998 degrees; " + Number(*out) +
                         " is out of range";
                return false;
            }
            return true;
        }
        case PF_Param_LAYER:
            *error = label + " names a layer; layers come with the command's own options";
            return false;
        default:
            *error = label + " cannot be set from the command line";
            return false;
    }
}

}  // namespace

bool ParseSetRequest(const std::string& text, SetRequest* request, std::string* error) {
    *request = SetRequest{};
    request->text = text;
    const std::size_t eq = text.find('=');
    request->name = Trim(text.substr(0, eq));
    if (eq != std::string::npos) {
        request->has_value = true;
        request->value = Trim(text.substr(eq + 1));
    }
    if (request->name.empty()) {
        *error = "--set " + Quoted(text) + " names no control; use --set NAME=VALUE";
        return false;
    }
    return true;
}

bool TakeSetOption(const Args& args, std::size_t* i, std::vector<SetRequest>* requests,
                   std::string* error) {
    const std::string& arg = args[*i];
    std::string operand;
    if (arg == "--set") {
        if (*i + 1 >= args.size()) {
            *error = "--set needs NAME=VALUE";
            return true;
        }
        operand = args[++*i];
    } else if (arg.rfind("--set=", 0) == 0) {
        operand = arg.substr(6);
    } else {
        return false;
    }
    SetRequest request;
    if (ParseSetRequest(operand, &request, error)) requests->push_back(request);
    return true;
}

CliOption SetOption(std::vector<SetRequest>* requests) {
    return CliOption{"--set", true, true, [requests](const std::string& value, std::string* error) {
                         SetRequest request;
                         if (!ParseSetRequest(value, &request, error)) return false;
                         requests->push_back(request);
                         return true;
                     }};
}

bool ResolveSetRequest(const Instance& instance, const SetRequest& request,
                       ResolvedSetting* setting, std::string* error) {
    const PF_ParamIndex index = FindControl(instance, request.name);
    if (!index) {
        *error = "no control named " + Quoted(request.name) +
                 " (controls: " + VisibleControlNames(instance) + ")";
        return false;
    }
    const ParamStream& param = instance.params[std::size_t(index)];
    const std::string label = Quoted(DisplayName(param));
    const PF_ParamType type = param.def.param_type;
    if (type == PF_Param_GROUP_START) {
        *error = label + " is a group, not a control";
        return false;
    }
    if (!IsShown(instance, index)) {
        *error = label + " is hidden and cannot be set";
        return false;
    }
    if (!IsEnabled(instance, index)) {
        *error = label + " is disabled and cannot be set";
        return false;
    }

    setting->index = index;
    setting->press = false;
    if (type == PF_Param_BUTTON) {
        if (request.value.find('@') != std::string::npos) {
            *error = label + " is a button; it cannot be keyframed, only pressed with --set " +
                     Quoted(DisplayName(param));
            return false;
        }
        if (request.has_value) {
            *error = label + " is a button and takes no value; press it with --set " +
                     Quoted(DisplayName(param));
            return false;
        }
        setting->press = true;
        return true;
    }
    if (!request.has_value) {
        *error = label + " needs a value: --set " + Quoted(DisplayName(param) + "=VALUE");
        return false;
    }
    setting->keys.clear();
    if (request.value.find('@') == std::string::npos) {
        return ReadValue(param, label, request.value, &setting->value, error);
    }
    if (HasValue(type) && !param.time_varying) {
        *error = label + " cannot vary over time and takes no keyframes";
        return false;
    }
    std::size_t at = 0;
    for (;;) {
        const std::size_t comma = request.value.find(',', at);
        const std::string key = Trim(request.value.substr(at, comma - at));
        const std::size_t sign = key.rfind('@');
        long long frame = 0;
        if (sign == std::string::npos) {
            *error = label + ": each keyframe is VALUE@FRAME, not " + Quoted(key);
            return false;
        }
        if (!ParseWholeNumber(Trim(key.substr(sign + 1)), 0, 2147483647, &frame)) {
            *error =
                label + ": keyframe " + Quoted(key) + " needs a frame number from 0 to 2147483647";
            return false;
        }
        if (!setting->keys.empty() && frame <= setting->keys.back().frame) {
            *error = label + ": keyframe " + Quoted(key) +
                     (frame == setting->keys.back().frame
                          ? " repeats frame " + std::to_string(frame)
                          : " is out of order; keyframes go in increasing frames");
            return false;
        }
        double value = 0;
        std::string why;
        if (!ReadValue(param, label, key.substr(0, sign), &value, &why)) {
            *error = "keyframe " + Quoted(key) + ": " + why;
            return false;
        }
        setting->keys.push_back(Keyframe{A_long(frame), value});
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    setting->value = setting->keys.front().value;
    return true;
}

int ApplySetRequests(Instance* instance, const std::vector<SetRequest>& requests,
                     std::string* error) {
    for (const SetRequest& request : requests) {
        ResolvedSetting setting;
        std::string why;
        if (!ResolveSetRequest(*instance, request, &setting, &why)) {
            *error = "--set " + Quoted(request.text) + ": " + why;
            return 2;
        }
        const PF_Err err = setting.press ? UserPressButton(instance, setting.index)
                           : !setting.keys.empty()
                               ? UserSetKeys(instance, setting.index, setting.keys)
                               : UserSetValue(instance, setting.index, setting.value);
        if (err) {
            *error =
                "--set " + Quoted(request.text) + " failed with host error " + std::to_string(err);
            if (!instance->refusal.empty()) *error += " (" + instance->refusal + ")";
            return 1;
        }
    }
    return 0;
}

}  // namespace vexo_host
