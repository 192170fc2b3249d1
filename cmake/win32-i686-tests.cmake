# Tests only: the Win32 OS layer and its test program, built as the shipped
# 32-bit MinGW-w64 product is, to run under 32-bit Wine (scripts/wine-tests.sh).
include(${CMAKE_CURRENT_LIST_DIR}/win32-i686.cmake)
set(QARN_WINE_TESTS ON CACHE BOOL "Build only the Win32 OS-layer tests")
