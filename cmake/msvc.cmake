# The Microsoft-ABI build (preset win32-msvc): the same library sources as
# the MinGW DLL, compiled for i686-pc-windows-msvc and linked with lld-link
# against the Visual C++ runtime (vcruntime140 + ucrtbase). Included from the
# top-level CMakeLists.txt instead of the rest of it.
enable_language(RC)
include(GNUInstallDirs)

set(QARN_MSVC_DIR ${PROJECT_SOURCE_DIR}/msvc)
set(QARN_MSVC_LIB_DIR ${CMAKE_BINARY_DIR}/msvc-lib)

# ---- Import libraries ------------------------------------------------------
# Made from Wine's i386 DLLs at build time (msvc/make_import_lib.sh).
set(QARN_MSVC_SYSTEM_DLLS kernel32 advapi32 user32 ntdll)
set(qarn_import_libs "")
function(qarn_msvc_import_lib dll)
  set(out ${QARN_MSVC_LIB_DIR}/${dll}.lib)
  set(exclude_def "")
  if(ARGC GREATER 1)
    set(exclude_def ${ARGV1})
  endif()
  add_custom_command(OUTPUT ${out} ${QARN_MSVC_LIB_DIR}/${dll}.def
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QARN_MSVC_LIB_DIR}
    COMMAND bash ${QARN_MSVC_DIR}/make_import_lib.sh ${QARN_LLVM_BIN} ${QARN_WINE_IMPORT_LIBS} ${dll} ${out} ${ARGN}
    DEPENDS ${QARN_MSVC_DIR}/make_import_lib.sh ${exclude_def}
    COMMENT "Import library ${dll}.lib" VERBATIM)
  set(qarn_import_libs ${qarn_import_libs} ${out} PARENT_SCOPE)
endfunction()
qarn_msvc_import_lib(vcruntime140)
# vcruntime140's entries (frame handlers, throw, translator) must not be
# taken from ucrtbase, which exports them too.
qarn_msvc_import_lib(ucrtbase ${QARN_MSVC_LIB_DIR}/vcruntime140.def)
foreach(dll IN LISTS QARN_MSVC_SYSTEM_DLLS)
  qarn_msvc_import_lib(${dll})
endforeach()
add_custom_target(qarn_msvc_import_libs DEPENDS ${qarn_import_libs})

# ---- Start-up code ---------------------------------------------------------
add_library(qarn_msvc_runtime STATIC
  ${QARN_MSVC_DIR}/runtime/startup.c
  ${QARN_MSVC_DIR}/runtime/dll_entry.c
  ${QARN_MSVC_DIR}/runtime/exe_entry.c
  ${QARN_MSVC_DIR}/runtime/dll_main_default.c
  ${QARN_MSVC_DIR}/runtime/tls_support.c
  ${QARN_MSVC_DIR}/runtime/thread_safe_statics.c
  ${QARN_MSVC_DIR}/runtime/load_config.c
  ${QARN_MSVC_DIR}/runtime/cxx_runtime.cpp
  ${QARN_MSVC_DIR}/runtime/libcxx_support.cpp)
target_compile_options(qarn_msvc_runtime PRIVATE -Wall)

# Every module: the runtime, the import libraries, nothing else implied, a
# SafeSEH table, and no dependency on a C runtime library's default name.
set(QARN_MSVC_LINK_OPTIONS
  LINKER:/nodefaultlib LINKER:/safeseh LINKER:/include:__load_config_used
  LINKER:/libpath:${QARN_MSVC_LIB_DIR} LINKER:/machine:x86)
set(QARN_MSVC_LINK_LIBRARIES qarn_msvc_runtime vcruntime140.lib ucrtbase.lib kernel32.lib advapi32.lib
  user32.lib ntdll.lib)
function(qarn_msvc_module target)
  add_dependencies(${target} qarn_msvc_import_libs)
  target_link_options(${target} PRIVATE ${QARN_MSVC_LINK_OPTIONS})
  target_link_libraries(${target} PRIVATE ${QARN_MSVC_LINK_LIBRARIES})
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "SHARED_LIBRARY")
    target_link_options(${target} PRIVATE LINKER:/entry:_DllMainCRTStartup@12)
  else()
    target_link_options(${target} PRIVATE LINKER:/entry:mainCRTStartup LINKER:/subsystem:console)
  endif()
endfunction()

# Faults are translated into C++ exceptions by the runtime: every function
# must have unwind states for instructions that can fault.
set(QARN_MSVC_CXX_OPTIONS -fexceptions -fcxx-exceptions -fasync-exceptions)

# ---- The DLL ---------------------------------------------------------------
# The library's code, from the same source folders as the MinGW DLL
# (errors/ also makes the string table), as objects of this ABI.
add_library(qarn_internal OBJECT)
target_include_directories(qarn_internal PUBLIC ${PROJECT_SOURCE_DIR}/include ${PROJECT_SOURCE_DIR})
target_compile_definitions(qarn_internal PUBLIC QARNPLUS_BUILDING)
target_compile_options(qarn_internal PRIVATE -Wall -Wextra $<$<COMPILE_LANGUAGE:CXX>:${QARN_MSVC_CXX_OPTIONS}>)
foreach(dir connection transport driver filters errors)
  add_subdirectory(${dir})
endforeach()
# The OS layer is the MinGW build's, except the fault translator.
file(GLOB platform_sources CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/platform/win32/*.cpp)
list(REMOVE_ITEM platform_sources ${PROJECT_SOURCE_DIR}/platform/win32/fault_win32.cpp)
target_sources(qarn_internal PRIVATE ${platform_sources} ${PROJECT_SOURCE_DIR}/platform/win32-msvc/fault_msvc.cpp)

add_library(qarnplus SHARED)
add_library(qarnplus::qarnplus ALIAS qarnplus)
target_link_libraries(qarnplus PRIVATE qarn_internal)
target_include_directories(qarnplus
  PUBLIC $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
# Applications need the same options to catch translated faults.
target_compile_options(qarnplus PUBLIC $<$<COMPILE_LANGUAGE:CXX>:${QARN_MSVC_CXX_OPTIONS}>)
set_target_properties(qarnplus PROPERTIES PREFIX "" IMPORT_PREFIX "" IMPORT_SUFFIX ".lib")
qarn_msvc_module(qarnplus)

# ---- Programs --------------------------------------------------------------
# Applications of this DLL start the MinGW build's qarn_svr.exe from a folder
# of its own: the server links the MinGW qarnplus.dll, which a DLL of the same
# name in this ABI cannot stand in for, and the server folder is an argument
# of f_QARNSVR_LoadLibrary anyway.
set(QARN_MINGW_BUILD_DIR ${PROJECT_SOURCE_DIR}/build/win32-i686 CACHE PATH
    "The win32-i686 build whose qarn_svr.exe the programs here start")

add_executable(tour ${PROJECT_SOURCE_DIR}/examples/consumer/tour.cpp)
target_link_libraries(tour PRIVATE qarnplus)
target_compile_definitions(tour PRIVATE QARN_SERVER_DIR="${QARN_MINGW_BUILD_DIR}/server")
qarn_msvc_module(tour)

add_subdirectory(tests/msvc)

# ---- Installation ----------------------------------------------------------
# bin/qarnplus.dll; bin/server/ with the MinGW server and the DLLs it loads;
# lib/qarnplus.lib; lib/msvc/ with the start-up code and the import libraries
# that programs of this ABI link; the headers; a CMake package whose target
# carries the compile options (asynchronous exceptions) and the link inputs.
include(CMakePackageConfigHelpers)
set(QARN_PACKAGE_DIR lib/cmake/qarnplus)
install(TARGETS qarnplus EXPORT qarnplusTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  ARCHIVE DESTINATION lib)
install(TARGETS qarn_msvc_runtime ARCHIVE DESTINATION lib/msvc)
install(FILES ${qarn_import_libs} DESTINATION lib/msvc)
install(FILES include/qarnplus.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/qarnplus DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY ${QARN_MINGW_BUILD_DIR}/server/ DESTINATION ${CMAKE_INSTALL_BINDIR}/server
  FILES_MATCHING PATTERN "*.exe" PATTERN "*.dll" PATTERN "CMakeFiles" EXCLUDE)
install(CODE "
  if(NOT EXISTS \"${QARN_MINGW_BUILD_DIR}/server/qarn_svr.exe\")
    message(FATAL_ERROR \"No MinGW server in ${QARN_MINGW_BUILD_DIR}/server: build the win32-i686 preset first\")
  endif()")

install(EXPORT qarnplusTargets NAMESPACE qarnplus:: DESTINATION ${QARN_PACKAGE_DIR})
set(QARN_MSVC_IMPORT_LIB_NAMES vcruntime140 ucrtbase ${QARN_MSVC_SYSTEM_DLLS})
configure_package_config_file(cmake/qarnplusMsvcConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfig.cmake
  INSTALL_DESTINATION ${QARN_PACKAGE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfigVersion.cmake
  DESTINATION ${QARN_PACKAGE_DIR})
