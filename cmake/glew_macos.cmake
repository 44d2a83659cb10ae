# GLEW for the macOS bundle. Built here from an unpacked GLEW release (VEXO_GLEW_SOURCE_DIR, the
# folder holding include/GL/glew.h and src/glew.c), it is linked statically, for every
# architecture of the bundle: a host's machine has no GLEW of its own, and package managers'
# GLEW is built for one architecture. Without it, the GLEW that find_package finds is linked,
# and the bundle then needs that library, at that path and for its architectures, wherever it
# is loaded.
set(VEXO_GLEW_SOURCE_DIR "" CACHE PATH
    "An unpacked GLEW release to build into the macOS bundle; empty links the GLEW found here")
if(VEXO_GLEW_SOURCE_DIR)
  foreach(required include/GL/glew.h src/glew.c)
    if(NOT EXISTS ${VEXO_GLEW_SOURCE_DIR}/${required})
      message(FATAL_ERROR "VEXO_GLEW_SOURCE_DIR=${VEXO_GLEW_SOURCE_DIR} holds no ${required}")
    endif()
  endforeach()
  add_library(vexo_glew_static STATIC ${VEXO_GLEW_SOURCE_DIR}/src/glew.c)
  # GLEW's own code, with its own warnings.
  target_compile_options(vexo_glew_static PRIVATE -w)
  target_include_directories(vexo_glew_static SYSTEM PUBLIC ${VEXO_GLEW_SOURCE_DIR}/include)
  # No GLU: nothing here uses it, and the framework's GLU headers are deprecated.
  target_compile_definitions(vexo_glew_static PUBLIC GLEW_STATIC GLEW_NO_GLU)
  target_link_libraries(vexo_glew_static PUBLIC ${OPENGL_FRAMEWORK})
  add_library(GLEW::GLEW ALIAS vexo_glew_static)
else()
  message(WARNING "VEXO_GLEW_SOURCE_DIR is not set: the bundle links the GLEW installed here "
                  "and needs it, built for every architecture in CMAKE_OSX_ARCHITECTURES, "
                  "on every machine that loads it")
endif()
