# GLEW for the Windows build. Debian packages GLEW for Linux only, so it is built here from
# Debian's source package as an external step: fetched and checked once (cmake/glew_fetch.cmake),
# compiled with the cross compiler into a static library, and kept under the build tree so later
# builds reuse it. Provides GLEW::GLEW, linked statically (GLEW_STATIC).
include(ExternalProject)

set(VEXO_GLEW_APT_SOURCE "" CACHE STRING
    "deb-src line for GLEW's source package; empty derives it from the machine's apt sources")

set(VEXO_GLEW_DIR ${CMAKE_BINARY_DIR}/_deps/glew)
set(VEXO_GLEW_INSTALL ${VEXO_GLEW_DIR}/install)
set(VEXO_GLEW_LIBRARY ${VEXO_GLEW_INSTALL}/lib/libglew32.a)

ExternalProject_Add(vexo_glew_build
  PREFIX ${VEXO_GLEW_DIR}
  SOURCE_DIR ${VEXO_GLEW_DIR}/source
  BINARY_DIR ${VEXO_GLEW_DIR}/obj
  STAMP_DIR ${VEXO_GLEW_DIR}/stamp
  TMP_DIR ${VEXO_GLEW_DIR}/tmp
  INSTALL_DIR ${VEXO_GLEW_INSTALL}
  DOWNLOAD_COMMAND ${CMAKE_COMMAND}
    -DWORK_DIR=${VEXO_GLEW_DIR}/fetch
    -DSOURCE_DIR=<SOURCE_DIR>
    "-DAPT_SOURCE=${VEXO_GLEW_APT_SOURCE}"
    -P ${CMAKE_SOURCE_DIR}/cmake/glew_fetch.cmake
  UPDATE_COMMAND ""
  CONFIGURE_COMMAND ""
  BUILD_COMMAND ${CMAKE_C_COMPILER} -O2 -DGLEW_STATIC -DGLEW_NO_GLU -I<SOURCE_DIR>/include
    -c <SOURCE_DIR>/src/glew.c -o glew.o
  COMMAND ${CMAKE_AR} rcs libglew32.a glew.o
  INSTALL_COMMAND ${CMAKE_COMMAND} -E copy_directory <SOURCE_DIR>/include/GL <INSTALL_DIR>/include/GL
  COMMAND ${CMAKE_COMMAND} -E copy libglew32.a <INSTALL_DIR>/lib/libglew32.a
  BUILD_BYPRODUCTS ${VEXO_GLEW_LIBRARY}
  LOG_DOWNLOAD ON
  LOG_BUILD ON
  LOG_INSTALL ON
  LOG_OUTPUT_ON_FAILURE ON)

# Imported targets must name include folders that exist when the build is generated.
file(MAKE_DIRECTORY ${VEXO_GLEW_INSTALL}/include ${VEXO_GLEW_INSTALL}/lib)
add_library(vexo_glew_static STATIC IMPORTED GLOBAL)
set_target_properties(vexo_glew_static PROPERTIES
  IMPORTED_LOCATION ${VEXO_GLEW_LIBRARY}
  INTERFACE_INCLUDE_DIRECTORIES ${VEXO_GLEW_INSTALL}/include
  INTERFACE_COMPILE_DEFINITIONS GLEW_STATIC
  INTERFACE_LINK_LIBRARIES opengl32)
# An interface library carries the build-order dependency to everything that links GLEW.
add_library(vexo_glew INTERFACE)
target_link_libraries(vexo_glew INTERFACE vexo_glew_static)
add_dependencies(vexo_glew vexo_glew_build)
add_library(GLEW::GLEW ALIAS vexo_glew)
