// Reading a module's property list: from the bytes, and from the module file itself.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vexo_host {

struct PiPLProperty {
    uint32_t vendor;
    uint32_t key;
    uint32_t id;
    std::vector<uint8_t> value;  // the stored length, without padding
};

struct PiPLInfo {
    std::vector<PiPLProperty> properties;
    std::string kind;  // "eFKT" for an effect
    std::string name;
    std::string category;
    std::string entry_point;  // the first code entry's
    // Every code-entry property as (key, function name): one per platform or architecture.
    std::vector<std::pair<std::string, std::string>> code_entries;
    std::string match_name;
    uint16_t pipl_version[2] = {0, 0};
    uint16_t api_version[2] = {0, 0};
    uint32_t effect_version = 0;
    uint16_t info_flags = 0;
    uint32_t out_flags = 0;
    uint32_t out_flags2 = 0;
    uint32_t reserved_flags = 0;
};

// Four-character codes as the property list stores them (a big-endian reading of the text).
std::string FourCCText(uint32_t code);

// Parses and validates a property list. On failure returns false with a message in `error`.
bool ParsePiPL(const std::vector<uint8_t>& bytes, PiPLInfo* info, std::string* error);

// The same for the macOS copy, whose numbers are big-endian as the platform's resources are.
bool ParseMacPiPL(const std::vector<uint8_t>& bytes, PiPLInfo* info, std::string* error);

// The data of resource 'PiPL' 16000 in a classic resource file (the macOS bundle's
// Contents/Resources/VexorantPro.rsrc), checked against the file's own layout.
bool ReadResourceFilePiPL(const std::vector<uint8_t>& file, std::vector<uint8_t>* bytes,
                          std::string* error);

// Reads the raw property list out of a module file without loading it.
bool ReadModulePiPL(const std::string& path, std::vector<uint8_t>* bytes, std::string* error);

}  // namespace vexo_host
