// vexorant: the standalone host. Loads the effect module and drives it as the host application
// does.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "standalone/cli.h"
#include "standalone/settings.h"

namespace {

void Usage(FILE* to) {
    std::fprintf(
        to,
        "usage: vexorant COMMAND [OPTIONS]\n"
        "\n"
        "commands:\n"
        "  info [--json] [--pipl-dump FILE] [--set ...]\n"
        "                     the effect's about text, property list and controls as the\n"
        "                     user sees them after the edits given with --set; --json adds\n"
        "                     every parameter under \"params\"\n"
        "  info --frei0r        the controls as the frei0r modules' parameters\n"
        "  info --editors DIR   writes Kdenlive's and Shotcut's descriptions of them\n"
        "  render --input IN [--map MAP] [--map-origin X,Y] [--set ...] [--depth 8|32]\n"
        "         [--downsample F] [--threads N] [--frames A-B] --output OUT\n"
        "                     renders image files through the effect; with --frames, the\n"
        "                     frame number field of a file name (%%04d or ####) makes a\n"
        "                     numbered sequence\n"
        "  demo [--output-dir DIR]\n"
        "                     renders the built-in sample to vexorant-demo.png and its\n"
        "                     map view to vexorant-demo-map.png\n"
        "\n"
        "control edits:\n"
        "%s"
        "  e.g.  vexorant info --set \"Uniform Scale=off\" --set \"Scale Y=50\"\n"
        "        vexorant info --set \"Translate X=25\" --set \"Reset Transforms\"\n"
        "  an unknown name, a hidden control, or a value out of range is refused (exit 2)\n"
        "\n"
        "every command takes --module PATH (default: the module beside vexorant);\n"
        "vexorant COMMAND --help shows that command's options\n",
        vexo_host::kSetUsage);
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    std::string command = argv[1];
    vexo_host::Args args(argv + 2, argv + argc);
    if ((command == "help" || command == "--help" || command == "-h") && !args.empty()) {
        command = args[0];  // "vexorant help render" is "vexorant render --help"
        args = {"--help"};
    }
    if (command == "info") return vexo_host::RunInfo(args);
    if (command == "demo") return vexo_host::RunDemo(args);
    if (command == "render") return vexo_host::RunRender(args);
    if (command == "help" || command == "--help" || command == "-h") {
        Usage(stdout);
        return 0;
    }
    vexo_host::Complain(2, "unknown command '" + command + "'");
    Usage(stderr);
    return 2;
}

}  // namespace

// The last boundary: whatever a command did not expect ends as a message and exit code 1,
// never as an abort.
int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::bad_alloc&) {
        return vexo_host::Complain(1, "out of memory");
    } catch (const std::exception& e) {
        return vexo_host::Complain(1, std::string("internal error: ") + e.what());
    } catch (...) {
        return vexo_host::Complain(1, "internal error");
    }
}
