#include "standalone/hugepages.h"

#include <cstdlib>
#include <fstream>

namespace vexo_host {
namespace {

constexpr const char* kTunables = "GLIBC_TUNABLES";
constexpr const char* kTunable = "glibc.malloc.hugetlb";

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

// The kernel's transparent huge page mode, as the bracketed word of its settings file.
std::string KernelMode() {
    std::ifstream in("/sys/kernel/mm/transparent_hugepage/enabled");
    std::string line;
    if (!std::getline(in, line)) return "";
    const std::size_t open = line.find('['), close = line.find(']');
    if (open == std::string::npos || close == std::string::npos || close < open) return "";
    return line.substr(open + 1, close - open - 1);
}

}  // namespace

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
        return std::string("off (") + kTunable + " not set)";
    }
    if (!HugePagesRequested()) return std::string("off (") + kTunable + "=" + value + ")";
    if (mode == "never") return "off (the kernel's transparent huge pages are off)";
    return std::string("on (") + kTunable + "=" + value +
           (mode.empty() ? "" : ", kernel mode " + mode) + ")";
}

}  // namespace vexo_host
