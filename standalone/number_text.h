// Numbers as users read them: the shortest decimal text that reads back as the same value.
#pragma once
#include <cstdint>
#include <string>

namespace vexo_host {

std::string ShortestText(double v);
// Single precision: bounds declared as 1.3 read "1.3", not "1.29999995".
std::string ShortestText(float v);

// Flag and version words as the host's documentation writes them: "0x08001408".
std::string HexText(uint32_t v);

}  // namespace vexo_host
