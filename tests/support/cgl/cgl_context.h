// The macOS context functions (context/context_cgl.cpp) as the tests build them here: over the
// CGL stand-in, in one program beside the EGL ones, so under names of their own. The test
// library's build renames them (tests/CMakeLists.txt); the declarations match context_cgl.cpp's.
#pragma once
// GLEW ahead of CGL, as on a Mac, where GLEW refuses to follow the framework's GL types.
#include <GL/glew.h>
#include <OpenGL/OpenGL.h>

#include "context/gl_context.h"

#ifdef __cplusplus
extern "C" {
#endif

GLContextHandle CreateContext_CGL(GLContextHandle share, const CGLPixelFormatAttribute* attributes);
void DeleteContext_CGL(GLContextHandle context);
void SetCurrentContext_CGL(GLContextHandle context);
GLContextHandle GetCurrentContext_CGL(void);
bool IsContextValid_CGL(GLContextHandle context);
extern const char* const VEXOGLClassStrZ;

// Objects of the stand-in that are alive now, so that a test can see its creations released.
int CGLStandInLiveContexts(void);
int CGLStandInLivePixelFormats(void);

#ifdef __cplusplus
}
#endif
