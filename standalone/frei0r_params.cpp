#include "standalone/frei0r_params.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>

#include "standalone/instance.h"
#include "standalone/number_text.h"

namespace vexo_host {
namespace {

// An angle has no slider range; one turn either way keeps 0 degrees at 0.5.
constexpr double kAngleRange = 360;

std::string ChoiceList(const std::vector<std::string>& entries) {
    std::vector<std::string> choices;
    for (const std::string& e : entries) {
        if (!IsSeparatorEntry(e)) choices.push_back(e);
    }
    std::string out;
    for (std::size_t i = 0; i < choices.size(); ++i) {
        out += (i == 0 ? "" : i + 1 == choices.size() ? " or " : ", ") + choices[i];
    }
    return out;
}

bool MakeParam(const Instance& instance, PF_ParamIndex index, Frei0rParam* p) {
    const ParamStream& stream = instance.params[std::size_t(index)];
    const PF_ParamDef& def = stream.def;  // as declared, not as last shown
    p->index = index;
    p->type = def.param_type;
    p->name = def.name[0] ? std::string(def.name) : stream.text;
    p->stream_default = stream.value;
    switch (def.param_type) {
        case PF_Param_CHECKBOX:
            p->kind = Frei0rKind::kBool;
            p->at_zero = 0, p->at_one = 1;
            p->frei0r_default = def.u.bd.dephault ? 1 : 0;
            p->stream_default = p->frei0r_default;
            p->explanation = p->name + ", off or on; default " + (def.u.bd.dephault ? "on" : "off");
            return true;
        case PF_Param_POPUP:
            p->kind = Frei0rKind::kString;
            p->entries = SplitEntries(stream.entries);
            p->stream_default = def.u.pd.dephault;
            p->explanation = p->name + ": " + ChoiceList(p->entries) + "; default " +
                             PopupText(*p, p->stream_default);
            return true;
        case PF_Param_FLOAT_SLIDER: {
            const PF_FloatSliderDef& s = def.u.fs_d;
            const std::string unit = (s.display_flags & PF_ValueDisplayFlag_PERCENT) ? " %" : "";
            p->kind = Frei0rKind::kDouble;
            p->at_zero = double(s.slider_min), p->at_one = double(s.slider_max);
            p->unit = unit.empty() ? "" : "%";
            p->decimals = s.precision;
            p->stream_default = double(s.dephault);
            p->explanation = p->name + ", " + ShortestText(s.slider_min) + unit + " at 0 to " +
                             ShortestText(s.slider_max) + unit + " at 1; default " +
                             ShortestText(s.dephault) + unit;
            break;
        }
        case PF_Param_ANGLE:
            p->kind = Frei0rKind::kDouble;
            p->at_zero = -kAngleRange, p->at_one = kAngleRange;
            p->unit = "degrees";
            p->decimals = 1;
            p->stream_default = def.u.ad.dephault / 65536.0;
            p->explanation = p->name + ", " + ShortestText(-kAngleRange) + " degrees at 0 to " +
                             ShortestText(kAngleRange) + " degrees at 1; default " +
                             ShortestText(p->stream_default) + " degrees";
            break;
        default:
            return false;
    }
    p->frei0r_default = (p->stream_default - p->at_zero) / (p->at_one - p->at_zero);
    return true;
}

void CollectShown(const Instance& instance, std::set<PF_ParamIndex>* shown) {
    for (std::size_t i = 1; i < instance.params.size(); ++i) {
        if (IsShown(instance, PF_ParamIndex(i))) shown->insert(PF_ParamIndex(i));
    }
}

bool SetUp(Instance* instance, std::string* error) {
    if (const PF_Err err = SetupInstance(instance)) {
        *error = "parameter setup failed with host error " + std::to_string(err) +
                 (instance->refusal.empty() ? "" : " (" + instance->refusal + ")");
        return false;
    }
    return true;
}

}  // namespace

bool BuildFrei0rParams(const Effect* effect, std::vector<Frei0rParam>* params, std::string* error) {
    params->clear();
    Instance fresh(effect);
    if (!SetUp(&fresh, error)) return false;
    std::set<PF_ParamIndex> shown;
    CollectShown(fresh, &shown);
    // A checkbox may show controls of its own (uniform scale hides "Scale Y"), and a frei0r
    // host cannot add parameters later: everything either state shows is listed.
    for (PF_ParamIndex i : std::set<PF_ParamIndex>(shown)) {
        const ParamStream& p = fresh.params[std::size_t(i)];
        if (p.def.param_type != PF_Param_CHECKBOX) continue;
        Instance turned(effect);
        if (!SetUp(&turned, error)) return false;
        if (const PF_Err err = UserSetValue(&turned, i, p.value != 0 ? 0 : 1)) {
            *error =
                "turning '" + DisplayName(p) + "' failed with host error " + std::to_string(err);
            return false;
        }
        CollectShown(turned, &shown);
    }
    for (PF_ParamIndex i : shown) {
        Frei0rParam param;
        if (MakeParam(fresh, i, &param)) params->push_back(std::move(param));
    }
    return true;
}

bool Frei0rValueToStream(const Frei0rParam& p, double value, double* stream, std::string* why) {
    if (p.kind == Frei0rKind::kString) {
        *why = p.name + " takes an entry's text";
        return false;
    }
    if (std::isnan(value)) {
        *why = p.name + " cannot take NaN";
        return false;
    }
    if (value < 0 || value > 1) {
        *why = p.name + " takes 0 to 1, not " + ShortestText(value) + " (" + p.explanation + ")";
        return false;
    }
    if (p.kind == Frei0rKind::kBool) {
        *stream = value >= 0.5 ? 1 : 0;
    } else if (value == p.frei0r_default) {
        *stream = p.stream_default;
    } else {
        *stream = value == 1 ? p.at_one : p.at_zero + value * (p.at_one - p.at_zero);
    }
    return true;
}

bool Frei0rTextToStream(const Frei0rParam& p, const char* text, double* stream, std::string* why) {
    if (p.kind != Frei0rKind::kString) {
        *why = p.name + " takes a number";
        return false;
    }
    if (!text) {
        *why = p.name + " cannot take a null text";
        return false;
    }
    for (std::size_t i = 0; i < p.entries.size(); ++i) {
        if (!IsSeparatorEntry(p.entries[i]) && p.entries[i] == text) {
            *stream = double(i + 1);
            return true;
        }
    }
    *why = p.name + " has no entry '" + text + "' (" + ChoiceList(p.entries) + ")";
    return false;
}

std::string PopupText(const Frei0rParam& p, double stream) {
    const double position = std::round(stream);
    if (position < 1 || position > double(p.entries.size())) return "";
    return p.entries[std::size_t(position) - 1];
}

std::string Frei0rDefaultText(const Frei0rParam& p) {
    switch (p.kind) {
        case Frei0rKind::kBool:
            return p.frei0r_default != 0 ? "1" : "0";
        case Frei0rKind::kString:
            return PopupText(p, p.stream_default);
        default:
            return ShortestText(p.frei0r_default);
    }
}

std::string Frei0rTable(const std::vector<Frei0rParam>& params) {
    std::string out = "| # | Name | Type | Default | Values |\n|---|---|---|---|---|\n";
    for (std::size_t i = 0; i < params.size(); ++i) {
        const Frei0rParam& p = params[i];
        const char* type = p.kind == Frei0rKind::kBool     ? "bool"
                           : p.kind == Frei0rKind::kString ? "string"
                                                           : "double";
        out += "| " + std::to_string(i) + " | " + p.name + " | " + type + " | " +
               Frei0rDefaultText(p) + " | " + p.explanation.substr(p.name.size() + 2) + " |\n";
    }
    return out;
}

}  // namespace vexo_host
