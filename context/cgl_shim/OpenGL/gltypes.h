// The OpenGL framework's GL types, as far as CGL and the include order need them. The guard is
// the framework's own name: GLEW defines it to keep this header out once it has declared the
// types, and stops the build when it finds it already defined ("gltypes.h included before
// glew.h"), as it does on a Mac.
#ifndef __gltypes_h_
#define __gltypes_h_

#include <stdint.h>

typedef int32_t GLint;
typedef uint32_t GLuint;
// A pointer on Apple's platforms, an unsigned int in GLEW: declared before GLEW, the two clash.
typedef void* GLhandleARB;

#endif
