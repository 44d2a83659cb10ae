#include "standalone/cli_args.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vexo_host {
namespace {

bool IsHelp(const std::string& arg) { return arg == "--help" || arg == "-h"; }

const CliOption* Find(const CliCommand& command, const std::string& name) {
    for (const CliOption& option : command.options) {
        if (option.name == name) return &option;
    }
    return nullptr;
}

// "--name=value" splits at the first '='; anything else is a name alone.
std::string NamePart(const std::string& arg) {
    const std::size_t eq = arg.find('=');
    return arg.rfind("--", 0) == 0 && eq != std::string::npos ? arg.substr(0, eq) : arg;
}

// A word that is itself an option of this command, so it cannot be the value before it. Other
// words are values whatever they start with: "-12,-4" is a map origin.
bool IsOptionWord(const CliCommand& command, const std::string& arg) {
    return IsHelp(arg) || (arg.rfind("--", 0) == 0 && Find(command, NamePart(arg)));
}

struct Taken {
    const CliOption* option;
    std::string value;
};

}  // namespace

int UsageError(const CliCommand& command, const std::string& text) {
    Complain(2, command.name + ": " + text);
    std::fputs(command.usage.c_str(), stderr);
    return 2;
}

bool ParseCommandLine(const CliCommand& command, const Args& args, int* exit_code) {
    std::vector<Taken> taken;
    std::string error;
    bool help = false;
    // One pass for the shape of the line; --help anywhere wins over every other mistake.
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (IsHelp(arg)) {
            help = true;
            continue;
        }
        const std::string name = NamePart(arg);
        const bool inline_value = name.size() < arg.size();
        const CliOption* option = Find(command, name);
        std::string problem;
        if (!option) {
            problem = arg.rfind("-", 0) == 0 ? "unknown option '" + name + "'"
                                             : "unexpected argument '" + arg + "'";
        } else if (!option->takes_value && inline_value) {
            problem = name + " takes no value";
        } else if (option->takes_value && !inline_value &&
                   (i + 1 >= args.size() || IsOptionWord(command, args[i + 1]))) {
            problem = name + " needs a value";
        } else {
            std::string value;
            if (inline_value) {
                value = arg.substr(name.size() + 1);
            } else if (option->takes_value) {
                value = args[++i];
            }
            // No option means anything by an empty value ("--output-dir ''" is no folder).
            if (option->takes_value && value.empty()) {
                problem = name + " needs a value";
            } else {
                taken.push_back(Taken{option, value});
            }
        }
        if (error.empty()) error = problem;
    }
    if (help) {
        std::fputs(command.usage.c_str(), stdout);
        std::fputs(command.details.c_str(), stdout);
        *exit_code = 0;
        return false;
    }
    for (std::size_t i = 0; i < taken.size() && error.empty(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (taken[j].option == taken[i].option && !taken[i].option->repeatable) {
                error = taken[i].option->name + " is given more than once";
                break;
            }
        }
    }
    for (const auto& [a, b] : command.conflicts) {
        if (!error.empty()) break;
        bool has_a = false, has_b = false;
        for (const Taken& t : taken) {
            has_a = has_a || t.option->name == a;
            has_b = has_b || t.option->name == b;
        }
        if (has_a && has_b) error = a + " cannot be combined with " + b;
    }
    for (std::size_t i = 0; i < taken.size() && error.empty(); ++i) {
        if (!taken[i].option->take(taken[i].value, &error) && error.empty()) {
            error = "cannot read " + taken[i].option->name + " '" + taken[i].value + "'";
        }
    }
    if (!error.empty()) {
        *exit_code = UsageError(command, error);
        return false;
    }
    return true;
}

bool ParseWholeNumber(const std::string& text, long long min, long long max, long long* value) {
    // strtoll alone would skip leading blanks and take "+"; neither belongs in a count.
    const std::size_t digits = text.rfind('-', 0) == 0 ? 1 : 0;
    if (text.size() <= digits ||
        text.find_first_not_of("0123456789", digits) != std::string::npos) {
        return false;
    }
    errno = 0;
    const long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v < min || v > max) return false;
    *value = v;
    return true;
}

}  // namespace vexo_host
