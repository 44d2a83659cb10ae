# Embeds the shader texts of render/shaders/ as C++ string constants, one per file, named after
# the file (render/shaders/displace.frag becomes `displace`). The constants are declared in
# shaders/shaders.h; the definitions are generated at build time and regenerated whenever a shader
# text changes.
file(GLOB VEXO_SHADER_FILES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/render/shaders/*.vert
  ${CMAKE_SOURCE_DIR}/render/shaders/*.frag
  ${CMAKE_SOURCE_DIR}/render/shaders/*.geom
  ${CMAKE_SOURCE_DIR}/render/shaders/*.glsl)
list(SORT VEXO_SHADER_FILES)

set(VEXO_SHADER_OUTPUT ${CMAKE_BINARY_DIR}/generated/shader_sources.cpp)
add_custom_command(
  OUTPUT ${VEXO_SHADER_OUTPUT}
  COMMAND ${CMAKE_COMMAND}
    -DOUTPUT=${VEXO_SHADER_OUTPUT}
    "-DSHADERS=${VEXO_SHADER_FILES}"
    -P ${CMAKE_SOURCE_DIR}/cmake/embed_shaders.cmake
  DEPENDS ${VEXO_SHADER_FILES} ${CMAKE_SOURCE_DIR}/cmake/embed_shaders.cmake
  COMMENT "Embedding shader texts"
  VERBATIM)

set(VEXO_SHADER_SOURCES ${VEXO_SHADER_OUTPUT} ${CMAKE_SOURCE_DIR}/shaders/shaders.h)
