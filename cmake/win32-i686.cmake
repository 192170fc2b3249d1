# The shipped Windows product: 32-bit MinGW-w64.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686-posix.cmake)
