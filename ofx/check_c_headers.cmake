# Compiles each header of INCLUDE_DIR alone, and all of them together, as C99 with every C
# compiler of COMPILERS (GCC-like).
#   cmake -DCOMPILERS= -DINCLUDE_DIR= -DWORK_DIR= -P check_c_headers.cmake
file(GLOB headers RELATIVE ${INCLUDE_DIR} ${INCLUDE_DIR}/*.h)
list(LENGTH headers count)
if(count EQUAL 0)
  message(FATAL_ERROR "no headers in ${INCLUDE_DIR}")
endif()
file(MAKE_DIRECTORY ${WORK_DIR})
set(sources)
set(all "")
foreach(header IN LISTS headers)
  string(APPEND all "#include \"${header}\"\n")
  string(REPLACE ".h" ".c" source ${WORK_DIR}/${header})
  # The declaration keeps a header that declares nothing (ofxOpenGLRender.h) from leaving an
  # empty translation unit, which -pedantic rejects.
  file(WRITE ${source} "#include \"${header}\"\ntypedef int vexo_ofx_c_check;\n")
  list(APPEND sources ${source})
endforeach()
file(WRITE ${WORK_DIR}/all.c "${all}")
list(APPEND sources ${WORK_DIR}/all.c)

foreach(compiler IN LISTS COMPILERS)
  foreach(source IN LISTS sources)
    execute_process(COMMAND ${compiler} -std=c99 -pedantic -Wall -Wextra -Werror
        -Wstrict-prototypes -fsyntax-only -I ${INCLUDE_DIR} ${source}
      RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT result EQUAL 0)
      message(SEND_ERROR "${compiler} ${source}:\n${output}")
    endif()
  endforeach()
endforeach()
