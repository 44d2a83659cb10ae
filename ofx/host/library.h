// Opening a plug-in binary: the one part of the host that differs between platforms.
#ifndef VEXO_OFX_HOST_LIBRARY_H
#define VEXO_OFX_HOST_LIBRARY_H

#include <string>

namespace vexo::ofxhost {

// The bundle's folder for this platform's binaries ("Linux-x86-64", "Win64").
extern const char* const kBinaryFolder;

// Null with `error` set when the binary cannot be loaded.
void* OpenLibrary(const std::string& path, std::string* error);
void* FindSymbol(void* library, const char* name);
void CloseLibrary(void* library);

}  // namespace vexo::ofxhost

#endif
