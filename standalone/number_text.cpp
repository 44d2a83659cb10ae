#include "standalone/number_text.h"

#include <cstdio>
#include <cstdlib>

namespace vexo_host {

std::string ShortestText(double v) {
    char buf[40];
    for (int digits = 15; digits <= 17; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (std::strtod(buf, nullptr) == v) break;
    }
    return buf;
}

std::string ShortestText(float v) {
    char buf[32];
    for (int digits = 6; digits <= 9; ++digits) {
        std::snprintf(buf, sizeof buf, "%.*g", digits, double(v));
        if (std::strtof(buf, nullptr) == v) break;
    }
    return buf;
}

std::string HexText(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", v);
    return buf;
}

}  // namespace vexo_host
