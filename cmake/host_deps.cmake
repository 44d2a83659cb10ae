# Image files for the standalone host. Debian's OpenImageIO CMake package names OpenCV headers
# that the library does not need, so find the library directly.
find_path(OIIO_INCLUDE_DIR OpenImageIO/imageio.h REQUIRED)
find_library(OIIO_LIBRARY OpenImageIO REQUIRED)
find_library(OIIO_UTIL_LIBRARY OpenImageIO_Util REQUIRED)
foreach(target vexo_host vexo_host_testing)
  if(TARGET ${target})
    target_include_directories(${target} SYSTEM PUBLIC ${OIIO_INCLUDE_DIR})
    target_link_libraries(${target} PUBLIC ${OIIO_LIBRARY} ${OIIO_UTIL_LIBRARY})
  endif()
endforeach()
