// vexorant: the standalone host. Loads the effect module and drives it as the host application
// does.
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace {

void Usage(FILE* to) {
    std::fprintf(to,
                 "usage: vexorant COMMAND [OPTIONS]\n"
                 "\n"
                 "commands:\n"
                 "  info [--json] [--pipl-dump FILE]   the effect's about text and property list\n"
                 "  demo                               the built-in sample\n"
                 "\n"
                 "every command takes --module PATH (default: the module beside vexorant)\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    const std::string command = argv[1];
    const vexo_host::Args args(argv + 2, argv + argc);
    if (command == "info") return vexo_host::RunInfo(args);
    if (command == "demo") return vexo_host::RunDemo(args);
    if (command == "help" || command == "--help" || command == "-h") {
        Usage(stdout);
        return 0;
    }
    vexo_host::Complain(2, "unknown command '" + command + "'");
    Usage(stderr);
    return 2;
}
