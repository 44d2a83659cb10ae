# Image files for the standalone host. Debian's OpenImageIO CMake package names OpenCV headers
# that the library does not need, so find the library directly.
find_path(OIIO_INCLUDE_DIR OpenImageIO/imageio.h REQUIRED)
find_library(OIIO_LIBRARY OpenImageIO REQUIRED)
find_library(OIIO_UTIL_LIBRARY OpenImageIO_Util REQUIRED)
# libpng's messages are kept out of the terminal by a png_set_error_fn of the host's own
# (standalone/image_io.cpp), which OpenImageIO must find ahead of libpng's.
find_package(PNG REQUIRED)
foreach(target vexo_host vexo_host_testing)
  if(TARGET ${target})
    target_include_directories(${target} SYSTEM PUBLIC ${OIIO_INCLUDE_DIR})
    target_link_libraries(${target} PUBLIC ${OIIO_LIBRARY} ${OIIO_UTIL_LIBRARY} PNG::PNG)
    target_link_options(${target} INTERFACE "LINKER:--export-dynamic-symbol=png_set_error_fn")
  endif()
endforeach()
