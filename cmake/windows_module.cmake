# The Windows module as a host sees it, and the Windows standalone host.
#
# The property list goes in as a resource (type "PIPL", id 16000, US English) holding the bytes
# that effect/pipl.h builds, written by vexo_pipl_gen. That tool must run here, on the build
# machine, so it is compiled a second time with the build machine's compiler.
set(VEXO_NATIVE_DIR ${CMAKE_BINARY_DIR}/native)
set(VEXO_NATIVE_PIPL_GEN ${VEXO_NATIVE_DIR}/vexo_pipl_gen)
set(VEXO_PIPL_BIN ${CMAKE_BINARY_DIR}/generated/VexorantPro.pipl)
set(VEXO_PIPL_RC ${CMAKE_BINARY_DIR}/generated/VexorantPro_pipl.rc)

# Compiles build-machine tools from sources of this tree, with the same warnings as the rest.
# They take the SDK's names from our own declarations in sdk/ even when the module builds against
# the real SDK, whose headers know only the host's platforms; the values are the SDK's either way.
# LIBS are the build machine's libraries.
function(vexo_native_tool name)
  cmake_parse_arguments(PARSE_ARGV 1 tool "" "" "SOURCES;INCLUDES;SYSTEM_INCLUDES;LIBS")
  set(output ${VEXO_NATIVE_DIR}/${name})
  set(includes)
  foreach(dir IN LISTS tool_INCLUDES)
    list(APPEND includes -I${dir})
  endforeach()
  foreach(dir IN LISTS tool_SYSTEM_INCLUDES)
    list(APPEND includes -isystem ${dir})
  endforeach()
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${VEXO_NATIVE_DIR}
    COMMAND ${VEXO_NATIVE_CXX} -std=c++17 -O2 -Wall -Wextra -Werror -MD -MF ${output}.d
      ${includes} -I${CMAKE_SOURCE_DIR}/sdk -I${CMAKE_SOURCE_DIR}/sdk/SP
      ${tool_SOURCES} -o ${output} ${tool_LIBS}
    DEPENDS ${tool_SOURCES}
    DEPFILE ${output}.d
    COMMENT "Building ${name} for the build machine"
    VERBATIM)
  add_custom_target(${name}_native DEPENDS ${output})
endfunction()

vexo_native_tool(vexo_pipl_gen
  SOURCES ${CMAKE_SOURCE_DIR}/effect/pipl_gen.cpp
  INCLUDES ${CMAKE_SOURCE_DIR})

add_custom_command(
  OUTPUT ${VEXO_PIPL_BIN} ${VEXO_PIPL_RC}
  COMMAND ${VEXO_NATIVE_PIPL_GEN} ${VEXO_PIPL_BIN} ${VEXO_PIPL_RC}
  DEPENDS ${VEXO_NATIVE_PIPL_GEN}
  COMMENT "Writing the property list resource"
  VERBATIM)

# The .def file limits the export table to EffectMain; without it the linker exports every
# global symbol of the module and its static runtime.
target_sources(VexorantPro PRIVATE ${VEXO_PIPL_RC} ${CMAKE_SOURCE_DIR}/effect/VexorantPro.def)
set_target_properties(VexorantPro PROPERTIES
  LINK_DEPENDS ${CMAKE_SOURCE_DIR}/effect/VexorantPro.def)

# Image files without OpenImageIO: PNG and the other 8-bit formats through stb, 32-bit float as
# PFM (standalone/image_io_portable.cpp).
target_include_directories(vexo_host SYSTEM PRIVATE ${VEXO_HEADER_LINKS})
