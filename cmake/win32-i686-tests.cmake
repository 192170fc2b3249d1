# Tests only: the library's code and the OS layer's contract test for 32-bit
# MinGW-w64, to run under 32-bit Wine (scripts/wine-tests.sh). The same
# compiler as the shipped product, in its POSIX thread model: GoogleTest
# needs std::mutex, which the Win32 thread model's runtime lacks. The
# library's code uses Win32 threads either way.
include(${CMAKE_CURRENT_LIST_DIR}/win32-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(QARN_WINE_TESTS ON CACHE BOOL "Build only the tests that run under Wine")
