# Windows x64 from Linux with Debian's mingw-w64. The posix flavour of the compilers carries
# std::thread and std::mutex; the win32 flavour has neither.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(VEXO_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VEXO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VEXO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VEXO_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VEXO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Static C and C++ runtimes and winpthreads: a host loads the plug-in from its own folder, where
# no mingw DLL will ever sit beside it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")
