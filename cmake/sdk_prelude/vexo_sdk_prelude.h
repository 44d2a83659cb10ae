/* Force-included ahead of every source when building against the host's real SDK on Linux: its
   headers take their Unix branch with __LINUX__ and then expect three Mac types. */
#ifndef VEXO_SDK_PRELUDE_H
#define VEXO_SDK_PRELUDE_H
#include <stdint.h>

typedef int32_t Fixed;
typedef unsigned char Boolean;
typedef char** Handle;

#endif
