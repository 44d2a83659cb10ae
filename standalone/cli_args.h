// The command line of every `vexorant` command, read by one parser: each command declares its
// options in a table, so "--name VALUE", "--name=VALUE", a missing value, a repeated or unknown
// option and `--help` read and fail the same way everywhere.
#pragma once
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "standalone/cli.h"

namespace vexo_host {

struct CliOption {
    std::string name;         // "--input"
    bool takes_value = true;  // false: a flag
    bool repeatable = false;  // given more than once: each is taken, in order
    // Takes the value ("" for a flag); false, with `error` set, refuses it.
    std::function<bool(const std::string& value, std::string* error)> take;
};

struct CliCommand {
    std::string name;     // "render"
    std::string usage;    // the synopsis, printed with every usage error
    std::string details;  // what --help adds below it
    std::vector<CliOption> options;
    // Options that exclude each other: giving both is a usage error.
    std::vector<std::pair<std::string, std::string>> conflicts;
};

// Reads `args` for `command`. Returns true when the command should run. Otherwise `*exit_code`
// says how to end: 0 after --help printed the usage and details on standard output, 2 after a
// usage error was printed, with the synopsis, on standard error.
bool ParseCommandLine(const CliCommand& command, const Args& args, int* exit_code);

// Prints a usage error for `command` (message, then the usage) and returns 2.
int UsageError(const CliCommand& command, const std::string& text);

// A whole decimal number in [min, max], nothing else around it. Out-of-range values are refused,
// never clipped.
bool ParseWholeNumber(const std::string& text, long long min, long long max, long long* value);

}  // namespace vexo_host
