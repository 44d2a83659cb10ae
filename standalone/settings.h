// `--set NAME=VALUE`: control edits given on the command line, made as the user makes them.
#pragma once
#include <string>
#include <vector>

#include "standalone/cli.h"
#include "standalone/cli_args.h"
#include "standalone/instance.h"

namespace vexo_host {

// One `--set` option. A button is named without a value: `--set "Reset Transforms"`; an
// animated control with its keyframes: `--set "Rotate=0@0,90@24"`.
struct SetRequest {
    std::string name;
    std::string value;
    bool has_value = false;
    std::string text;  // as given, for messages
};

// The usage lines of `--set`, for a command's help text.
extern const char* const kSetUsage;

// Parses the text after `--set`. False, with a message, when it names no control.
bool ParseSetRequest(const std::string& text, SetRequest* request, std::string* error);

// The `--set` option of a command line: each one given is parsed and added to `requests`.
CliOption SetOption(std::vector<SetRequest>* requests);

// When args[*i] is `--set NAME=VALUE` (or `--set=NAME=VALUE`), takes it, leaves *i on the last
// argument taken and returns true. A missing or malformed operand still returns true, with
// `error` set.
bool TakeSetOption(const Args& args, std::size_t* i, std::vector<SetRequest>* requests,
                   std::string* error);

// A request matched against what the user sees now.
struct ResolvedSetting {
    PF_ParamIndex index = 0;
    bool press = false;          // a button
    double value = 0;            // in the stream's units
    std::vector<Keyframe> keys;  // `NAME=VALUE@FRAME,...`: in increasing frames
};

// Finds the control by its visible name (an unnamed checkbox or button by its text) and reads
// the value in displayed units: percent sliders in percent, angles in degrees, popups by entry
// text or 1-based position, checkboxes on/off/1/0. Hidden and disabled controls cannot be set.
// `VALUE@FRAME,VALUE@FRAME,...` keyframes the control, in increasing frames.
bool ResolveSetRequest(const Instance& instance, const SetRequest& request,
                       ResolvedSetting* setting, std::string* error);

// Resolves and makes each edit in order, each seeing the interface the one before left. Returns
// the exit code: 0 done, 2 a request that names no visible control or no valid value, 1 the
// effect or host failed; `error` says why.
int ApplySetRequests(Instance* instance, const std::vector<SetRequest>& requests,
                     std::string* error);

}  // namespace vexo_host
