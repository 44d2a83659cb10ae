#include "standalone/module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace vexo_host {

#if defined(_WIN32)

std::string DefaultModulePath() {
    char exe[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, exe, MAX_PATH);
    std::string dir(exe, n);
    dir = dir.substr(0, dir.find_last_of("\\/") + 1);
    return dir + "VexorantPro.aex";
}

namespace {
void* OpenLibrary(const std::string& path, std::string* error) {
    HMODULE lib = LoadLibraryA(path.c_str());
    if (!lib) *error = "cannot load " + path + " (error " + std::to_string(GetLastError()) + ")";
    return reinterpret_cast<void*>(lib);
}
void* Symbol(void* lib, const std::string& name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(lib), name.c_str()));
}
void CloseLibrary(void* lib) { FreeLibrary(static_cast<HMODULE>(lib)); }
}  // namespace

#else

std::string DefaultModulePath() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    std::string dir = n > 0 ? std::string(exe, std::size_t(n)) : std::string("./");
    dir = dir.substr(0, dir.find_last_of('/') + 1);
    return dir + "VexorantPro.so";
}

namespace {
void* OpenLibrary(const std::string& path, std::string* error) {
    void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) *error = "cannot load " + path + ": " + dlerror();
    return lib;
}
void* Symbol(void* lib, const std::string& name) { return dlsym(lib, name.c_str()); }
void CloseLibrary(void* lib) { dlclose(lib); }
}  // namespace

#endif

std::string ModuleFilePath(const std::string& path) {
#if defined(_WIN32)
    const bool bare = path.find_first_of("/\\:") == std::string::npos;
    return bare && !path.empty() ? ".\\" + path : path;
#else
    return path.find('/') == std::string::npos && !path.empty() ? "./" + path : path;
#endif
}

bool LoadModule(const std::string& given, LoadedModule* module, std::string* error) {
    const std::string path = ModuleFilePath(given);
    LoadedModule loaded;
    loaded.path = path;
    std::vector<uint8_t> bytes;
    if (!ReadModulePiPL(path, &bytes, error)) return false;
    std::string why;
    if (!ParsePiPL(bytes, &loaded.pipl, &why)) {
        *error = path + ": bad property list: " + why;
        return false;
    }
    loaded.library = OpenLibrary(path, error);
    if (!loaded.library) return false;
    loaded.entry =
        reinterpret_cast<EffectMainFunc>(Symbol(loaded.library, loaded.pipl.entry_point));
    if (!loaded.entry) {
        *error = path + " does not export its entry point '" + loaded.pipl.entry_point + "'";
        CloseLibrary(loaded.library);
        return false;
    }
    *module = std::move(loaded);
    return true;
}

void UnloadModule(LoadedModule* module) {
    if (module->library) CloseLibrary(module->library);
    module->library = nullptr;
    module->entry = nullptr;
}

}  // namespace vexo_host
