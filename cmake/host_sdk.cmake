# Builds against the host's real SDK: vexo_use_host_sdk(<interface target> <SDK>/Examples).
# Its Headers/ and Headers/SP/ are system includes (they hold pragmas and multi-character
# constants that -Wall -Werror rejects); the SDK's Util/ sample code is not used.
function(vexo_use_host_sdk target examples_dir)
  set(headers ${examples_dir}/Headers)
  foreach(required AE_Effect.h SP/SPBasic.h)
    if(NOT EXISTS ${headers}/${required})
      message(FATAL_ERROR "VEXO_HOST_SDK_DIR=${examples_dir} holds no Headers/${required}")
    endif()
  endforeach()

  # AE_IO.h includes "ae_effect.h" in lower case; on a case-sensitive file system it resolves
  # through this folder, searched after the SDK's own.
  set(alias_dir ${CMAKE_BINARY_DIR}/host_sdk_alias)
  file(CONFIGURE OUTPUT ${alias_dir}/ae_effect.h
    CONTENT "#include \"${headers}/AE_Effect.h\"\n" @ONLY)

  target_include_directories(${target} SYSTEM INTERFACE ${headers} ${headers}/SP ${alias_dir})
  if(WIN32)
    # The headers choose their Windows types by _WINDOWS, which only Visual Studio defines.
    target_compile_definitions(${target} INTERFACE _WINDOWS)
  elseif(NOT APPLE)
    # SPConfig.h takes its Unix branch with __LINUX__; AE_Effect.h then needs the three Mac
    # types, declared by the prelude.
    target_compile_definitions(${target} INTERFACE __LINUX__)
    target_compile_options(${target} INTERFACE
      "$<$<COMPILE_LANGUAGE:C,CXX>:SHELL:-include ${CMAKE_SOURCE_DIR}/cmake/sdk_prelude/vexo_sdk_prelude.h>")
  endif()
  message(STATUS "Building against the host SDK in ${examples_dir}")
endfunction()
