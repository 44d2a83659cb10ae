# What the Windows cross build takes from outside its sysroot: GLEW built from source, the
# header-only GLM and stb of the build machine, and the build machine's own C++ compiler for the
# tools that run during the build.
include(${CMAKE_SOURCE_DIR}/cmake/glew_windows.cmake)

# Header-only libraries are the same for every target, but their folder also holds the build
# machine's other headers, which must stay out of reach of the cross compiler. Each library gets
# a folder of its own that links to just its headers.
set(VEXO_HEADER_LINKS ${CMAKE_BINARY_DIR}/_deps/headers)
function(vexo_link_headers name probe)
  find_path(${name}_HOST_DIR ${probe} PATHS /usr/include /usr/local/include
    NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
  if(NOT ${name}_HOST_DIR)
    message(FATAL_ERROR "${probe} not found on the build machine")
  endif()
  get_filename_component(folder ${probe} DIRECTORY)
  file(MAKE_DIRECTORY ${VEXO_HEADER_LINKS})
  if(NOT EXISTS ${VEXO_HEADER_LINKS}/${folder})
    file(CREATE_LINK ${${name}_HOST_DIR}/${folder} ${VEXO_HEADER_LINKS}/${folder} SYMBOLIC)
  endif()
endfunction()
vexo_link_headers(GLM glm/glm.hpp)
vexo_link_headers(STB stb/stb_image.h)
set(GLM_INCLUDE_DIR ${VEXO_HEADER_LINKS} CACHE PATH "GLM's include folder" FORCE)

find_program(VEXO_NATIVE_CXX NAMES c++ g++ clang++ REQUIRED
  DOC "The build machine's C++ compiler, for tools that run during the build")
