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

#if !defined(_WIN32)
// The file this program's code was loaded from; /proc/self/exe names the dynamic loader instead
// when the program was started through it ("ld-linux-x86-64.so.2 ./vexorant"). Empty if unknown.
std::string ProgramFilePath();
#endif

// `path` as a file name: a bare name ("VexorantPro.so") would send the system's loader searching
// its library path, so it becomes one in the current folder ("./VexorantPro.so") and the file
// whose property list is checked is the file that is loaded.
std::string ModuleFilePath(const std::string& path);

// Reads and validates the property list from the file, then loads the code and resolves the
// entry point the list names. On failure returns false with a message and loads nothing.
bool LoadModule(const std::string& path, LoadedModule* module, std::string* error);
void UnloadModule(LoadedModule* module);

}  // namespace vexo_host
