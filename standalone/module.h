// A loaded effect module: its property list, its code and its entry point.
#pragma once
#include <string>

#include "AE_Effect.h"
#include "standalone/host.h"
#include "standalone/pipl_reader.h"

namespace vexo_host {

struct LoadedModule {
    std::string path;
    PiPLInfo pipl;
    void* library = nullptr;
    EffectMainFunc entry = nullptr;
};

// The module built beside the running executable.
std::string DefaultModulePath();

// Reads and validates the property list from the file, then loads the code and resolves the
// entry point the list names. On failure returns false with a message and loads nothing.
bool LoadModule(const std::string& path, LoadedModule* module, std::string* error);
void UnloadModule(LoadedModule* module);

}  // namespace vexo_host
