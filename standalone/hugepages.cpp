#include "standalone/hugepages.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

#if defined(__linux__)
#include <sys/stat.h>
#include <unistd.h>

#include "standalone/module.h"
#endif

namespace vexo_host {
namespace {

constexpr const char* kTunables = "GLIBC_TUNABLES";
constexpr const char* kTunable = "glibc.malloc.hugetlb";
// Set across the re-execution only: a C library that drops GLIBC_TUNABLES (as it does for
// privileged programs) must not make the program start itself over and over.
constexpr const char* kRestarted = "VEXORANT_HUGEPAGES_RESTARTED";

// The value the tunable is given in `tunables` (the last setting wins, as in glibc); false when
// it is not named.
bool TunableValue(const std::string& tunables, std::string* value) {
    bool found = false;
    std::size_t start = 0;
    while (start <= tunables.size()) {
        std::size_t end = tunables.find(':', start);
        if (end == std::string::npos) end = tunables.size();
        const std::string item = tunables.substr(start, end - start);
        const std::string prefix = std::string(kTunable) + "=";
        if (item.compare(0, prefix.size(), prefix) == 0) {
            *value = item.substr(prefix.size());
            found = true;
        }
        start = end + 1;
    }
    return found;
}

bool SwitchedOff() {
    const char* s = std::getenv(kHugePagesSwitch);
    return s && std::strcmp(s, "0") == 0;
}

// The kernel's transparent huge page mode, as the bracketed word of its settings file.
std::string KernelMode() {
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    if (!std::getline(in, line)) return "";
    const std::size_t open = line.find('['), close = line.find(']');
    if (open == std::string::npos || close == std::string::npos || close < open) return "";
    return line.substr(open + 1, close - open - 1);
}

#if defined(__linux__)
// Whether /proc/self/exe is the file this code was loaded from. It is not when the program was
// started through the dynamic loader, where it names the loader, or under valgrind, whose tool
// it names to the kernel: executing it again would start something else.
bool SelfIsThisProgram() {
    // valgrind shows the program's own file as /proc/self/exe, but the kernel runs its tool.
    if (const char* preload = std::getenv("LD_PRELOAD")) {
        if (std::strstr(preload, "vgpreload")) return false;
    }
    const std::string program = ProgramFilePath();
    struct stat exe, self;
    return !program.empty() && stat("/proc/self/exe", &exe) == 0 &&
           stat(program.c_str(), &self) == 0 && exe.st_dev == self.st_dev &&
           exe.st_ino == self.st_ino;
}
#endif

}  // namespace

std::string TunablesWithHugePages(const char* current) {
    const std::string tunables = current ? current : "";
    std::string value;
    if (TunableValue(tunables, &value)) return "";
    const std::string item = std::string(kTunable) + "=1";
    if (tunables.empty()) return item;
    return tunables.back() == ':' ? tunables + item : tunables + ":" + item;
}

bool HugePagesRequested() {
    const char* tunables = std::getenv(kTunables);
    std::string value;
    return tunables && TunableValue(tunables, &value) && (value == "1" || value == "2");
}

std::string HugePagesStatus() {
    const std::string mode = KernelMode();
    const char* tunables = std::getenv(kTunables);
    std::string value;
    if (!tunables || !TunableValue(tunables, &value)) {
        if (SwitchedOff()) return std::string("off (") + kHugePagesSwitch + "=0)";
        return std::string("off (") + kTunable + " not set)";
    }
    if (!HugePagesRequested()) return std::string("off (") + kTunable + "=" + value + ")";
    if (mode == "never") return "off (the kernel's transparent huge pages are off)";
    return std::string("on (") + kTunable + "=" + value +
           (mode.empty() ? "" : ", kernel mode " + mode) + ")";
}

void ReexecWithHugePages(char** argv) {
#if defined(__linux__)
    if (std::getenv(kRestarted)) {
        unsetenv(kRestarted);
        return;
    }
    if (SwitchedOff() || !argv || !argv[0] || !SelfIsThisProgram()) return;
    const char* current = std::getenv(kTunables);
    const std::string tunables = TunablesWithHugePages(current);
    if (tunables.empty()) return;
    const std::string before = current ? current : "";
    if (setenv(kTunables, tunables.c_str(), 1) != 0 || setenv(kRestarted, "1", 1) != 0) return;
    execv("/proc/self/exe", argv);
    // Still here (no /proc, say): carry on as started.
    if (current) {
        setenv(kTunables, before.c_str(), 1);
    } else {
        unsetenv(kTunables);
    }
    unsetenv(kRestarted);
#else
    (void)argv;
#endif
}

}  // namespace vexo_host
