# Image files for the standalone host. Debian's OpenImageIO CMake package names OpenCV headers
# that the library does not need, so find the library directly.
find_path(OIIO_INCLUDE_DIR OpenImageIO/imageio.h REQUIRED)
find_library(OIIO_LIBRARY OpenImageIO REQUIRED)
find_library(OIIO_UTIL_LIBRARY OpenImageIO_Util REQUIRED)
target_include_directories(vexo_host SYSTEM PUBLIC ${OIIO_INCLUDE_DIR})
target_link_libraries(vexo_host PUBLIC ${OIIO_LIBRARY} ${OIIO_UTIL_LIBRARY})
# libpng's messages are kept out of the terminal by a png_set_error_fn of the host's own
# (standalone/image_io.cpp), which OpenImageIO must find ahead of libpng's.
find_package(PNG REQUIRED)
target_link_libraries(vexo_host PUBLIC PNG::PNG)
target_link_options(vexo_host INTERFACE "LINKER:--export-dynamic-symbol=png_set_error_fn")
