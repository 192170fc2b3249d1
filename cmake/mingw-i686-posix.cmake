# 32-bit Windows with MinGW-w64, in the posix thread model: the compilers
# named *-posix (Debian's plain i686-w64-mingw32-g++ is the win32 model, whose
# C++ library has no std::thread). The product is built with these, and the
# package installs this file as lib/cmake/qarnplus/win32-i686.cmake, so that
# a consumer uses the same compiler, and so the same C++ runtime DLLs, as the
# DLL it links.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER i686-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
