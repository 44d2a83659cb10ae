#include "standalone/module.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
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

std::string ProgramFilePath() {
    const auto here = reinterpret_cast<unsigned long long>(&ProgramFilePath);
    if (FILE* maps = std::fopen("/proc/self/maps", "r")) {
        std::string path;
        char line[PATH_MAX + 128];
        while (std::fgets(line, sizeof line, maps)) {
            unsigned long long start = 0, end = 0;
            int name_at = 0;
            if (std::sscanf(line, "%llx-%llx %*s %*s %*s %*s %n", &start, &end, &name_at) < 2 ||
                here < start || here >= end || name_at == 0) {
                continue;
            }
            path = line + name_at;
            path.erase(path.find_last_not_of('\n') + 1);
            break;
        }
        std::fclose(maps);
        if (!path.empty() && path[0] == '/') return path;
    }
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    return n > 0 ? std::string(exe, std::size_t(n)) : std::string();
}

std::string DefaultModulePath() {
    std::string dir = ProgramFilePath();
    if (dir.empty()) dir = "./";
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
