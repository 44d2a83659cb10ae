# Lays out sdk/ as the host SDK's Examples/ folder is laid out, with the traits of the real
# headers that a build against them must cope with:
#   cmake -DSOURCE_DIR=<repo> -DEXAMPLES=<folder to make> -P fake_sdk.cmake
# - A.h holds a multi-character constant (fails -Werror unless the headers are system headers)
#   and, outside Windows builds (_WINDOWS), needs __LINUX__ and the Mac types Fixed, Boolean and
#   Handle declared before it;
# - AE_GeneralPlug.h reaches AE_IO.h, which includes "ae_effect.h" in lower case;
# - Util/ holds sample code that must not be on the include path.
file(REMOVE_RECURSE ${EXAMPLES})
file(COPY ${SOURCE_DIR}/sdk/ DESTINATION ${EXAMPLES}/Headers FILES_MATCHING PATTERN "*.h")

file(READ ${EXAMPLES}/Headers/A.h a_h)
file(WRITE ${EXAMPLES}/Headers/A.h [=[
#if defined(_WINDOWS)
#elif defined(__LINUX__)
typedef Fixed A_FakeSdkFixed;
typedef Boolean A_FakeSdkBoolean;
typedef Handle A_FakeSdkHandle;
#else
#error "no platform named"
#endif
enum { A_FakeSdkFourCC = 'FAKE' };
]=] "${a_h}")

file(WRITE ${EXAMPLES}/Headers/AE_IO.h "#pragma once\n#include \"ae_effect.h\"\n")
file(APPEND ${EXAMPLES}/Headers/AE_GeneralPlug.h "#include \"AE_IO.h\"\n")

file(WRITE ${EXAMPLES}/Util/AEGP_SuiteHandler.h
  "#error \"the SDK's Util/ is sample code, not an include folder\"\n")
