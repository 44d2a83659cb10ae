#include "library.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace vexo::ofxhost {

#if defined(_WIN32)
const char* const kBinaryFolder = "Win64";

void* OpenLibrary(const std::string& path, std::string* error) {
    std::string native = path;  // the loader's documented separator
    for (char& c : native) c = c == '/' ? '\\' : c;
    HMODULE library = LoadLibraryA(native.c_str());
    if (library == nullptr) *error = "LoadLibrary: error " + std::to_string(GetLastError());
    return reinterpret_cast<void*>(library);
}

void* FindSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void CloseLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }
#else
const char* const kBinaryFolder = "Linux-x86-64";

void* OpenLibrary(const std::string& path, std::string* error) {
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) *error = std::string("dlopen: ") + dlerror();
    return library;
}

void* FindSymbol(void* library, const char* name) { return dlsym(library, name); }

void CloseLibrary(void* library) { dlclose(library); }
#endif

}  // namespace vexo::ofxhost
