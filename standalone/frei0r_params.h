// The effect's controls as frei0r parameters, read from what the host holds after parameter
// setup: checkboxes as booleans, sliders and angles as 0-1 doubles over the slider range, popups
// as their entry texts. Layers (the map is the mixer's second input) and buttons have no frei0r
// counterpart.
#pragma once
#include <string>
#include <vector>

#include "standalone/host.h"

namespace vexo_host {

enum class Frei0rKind { kBool, kDouble, kString };

struct Frei0rParam {
    PF_ParamIndex index = 0;  // the control in the effect's parameter list
    PF_ParamType type = PF_Param_RESERVED;
    Frei0rKind kind = Frei0rKind::kDouble;
    std::string name;                  // as declared; an unnamed checkbox goes by its box text
    std::string explanation;           // the mapping and the default, for the frei0r host to show
    double at_zero = 0, at_one = 1;    // stream values at frei0r 0 and 1 (doubles)
    std::string unit;                  // doubles as the user reads them: "%", "degrees" or none
    int decimals = 0;                  // doubles' decimals as the effect shows them
    double stream_default = 0;         // the effect's default in stream units
    double frei0r_default = 0;         // bools and doubles
    std::vector<std::string> entries;  // a popup's entries, separators in their places
};

// Sets up instances of the effect (a fresh one, and one with each checkbox turned) and lists
// every control the user can see in any of them, in declaration order.
bool BuildFrei0rParams(const Effect* effect, std::vector<Frei0rParam>* params, std::string* error);

// A frei0r value in the stream's units, or false with the reason it is refused. The default's
// frei0r value gives the default exactly.
bool Frei0rValueToStream(const Frei0rParam& param, double value, double* stream, std::string* why);
bool Frei0rTextToStream(const Frei0rParam& param, const char* text, double* stream,
                        std::string* why);
// The entry text of a popup value; empty when it names no entry.
std::string PopupText(const Frei0rParam& param, double stream);

// The frei0r value of a default as a host writes it: 0/1, shortest decimal, or the entry text.
std::string Frei0rDefaultText(const Frei0rParam& param);

// A Markdown table: frei0r index, name, type, default and what the values mean.
std::string Frei0rTable(const std::vector<Frei0rParam>& params);

}  // namespace vexo_host
