# The Microsoft-ABI Windows DLL: clang 19 for i686-pc-windows-msvc, lld-link,
# Wine's UCRT-style headers and libc++ 19 used header-only. Debian ships no
# Microsoft runtime libraries, so the build makes its own import libraries
# and start-up code (msvc/, cmake/msvc.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(QARN_MSVC_ABI ON CACHE BOOL "Microsoft-ABI build" FORCE)

set(QARN_LLVM_BIN /usr/lib/llvm-19/bin CACHE PATH "LLVM 19 tools")
set(QARN_WINE_INCLUDE /usr/include/wine/wine CACHE PATH "Wine's Windows and C runtime headers")
set(QARN_WINE_IMPORT_LIBS /usr/lib/i386-linux-gnu/wine/i386-windows CACHE PATH
    "Wine's i386 import libraries and DLLs, the source of the Microsoft import libraries")
set(QARN_LIBCXX_INCLUDE /usr/lib/llvm-19/include/c++/v1 CACHE PATH "libc++ 19 headers")

set(CMAKE_C_COMPILER ${QARN_LLVM_BIN}/clang)
set(CMAKE_CXX_COMPILER ${QARN_LLVM_BIN}/clang++)
set(CMAKE_C_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_CXX_COMPILER_TARGET i686-pc-windows-msvc)
set(CMAKE_RC_COMPILER ${QARN_LLVM_BIN}/llvm-rc)
set(CMAKE_AR ${QARN_LLVM_BIN}/llvm-ar)
set(CMAKE_LINKER ${QARN_LLVM_BIN}/lld-link)
set(CMAKE_MT ${QARN_LLVM_BIN}/llvm-mt)
# No runtime library exists to link the compiler checks' programs against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)

# Wine's headers only, in the order libc++ expects: its own wrappers first.
set(QARN_MSVC_INCLUDE_FLAGS
    "-nostdinc -isystem ${CMAKE_CURRENT_LIST_DIR}/../msvc/include -isystem ${QARN_LIBCXX_INCLUDE} -isystem /usr/lib/llvm-19/lib/clang/19/include -isystem ${QARN_WINE_INCLUDE}/msvcrt -isystem ${QARN_WINE_INCLUDE}/windows")
set(CMAKE_C_FLAGS_INIT "${QARN_MSVC_INCLUDE_FLAGS} -include ${CMAKE_CURRENT_LIST_DIR}/../msvc/include/wine_gaps.h")
set(CMAKE_CXX_FLAGS_INIT "${QARN_MSVC_INCLUDE_FLAGS} -include ${CMAKE_CURRENT_LIST_DIR}/../msvc/include/wine_gaps.h -fasync-exceptions")
# Only the libraries each target names (cmake/msvc.cmake); no SDK defaults.
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
set(CMAKE_CXX_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
