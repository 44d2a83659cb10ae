# Sanitized builds run every test with the runtimes' options and the GL driver's suppressions
# (tests/sanitizers). The environment is set once the directory's test lists are known, from an
# include file ctest reads after the lists': a list-valued property cannot pass through
# gtest_discover_tests.
function(vexo_sanitizer_environment)  # ARGN: the variables gtest_discover_tests fills
  set(dir ${CMAKE_SOURCE_DIR}/tests/sanitizers)
  set(env "")
  if(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*address")
    # intercept_tls_get_addr=0: the runtime's guess at the size of a dlopen'ed module's
    # thread-local block misreads this C library's layout, and the leak checker then walks into
    # unmapped memory at exit.
    list(APPEND env
      "ASAN_OPTIONS=intercept_tls_get_addr=0:detect_stack_use_after_return=1:check_initialization_order=1"
      "LSAN_OPTIONS=suppressions=${dir}/lsan.supp:print_suppressions=0"
      "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
  elseif(CMAKE_CXX_FLAGS MATCHES "-fsanitize=[^ ]*thread")
    list(APPEND env "TSAN_OPTIONS=suppressions=${dir}/tsan.supp:halt_on_error=1:second_deadlock_stack=1")
  endif()
  if(NOT env)
    return()
  endif()
  set(lists "")
  foreach(list IN LISTS ARGN)
    string(APPEND lists " \${${list}}")
  endforeach()
  set(file ${CMAKE_CURRENT_BINARY_DIR}/sanitizer_environment.cmake)
  file(WRITE ${file} "set_tests_properties(${lists}\n  PROPERTIES ENVIRONMENT [==[${env}]==])\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()
