# Installation: a relocatable tree (any prefix, moved or not) with the library,
# its headers, the server and the client side by side in bin/, and a CMake and
# a pkg-config package that find everything relative to themselves.
include(CMakePackageConfigHelpers)

set(QARN_PACKAGE_DIR lib/cmake/qarnplus)

# The programs find the library through a run path relative to themselves.
if(NOT WIN32)
  set_target_properties(qarn qarn_svr PROPERTIES INSTALL_RPATH "$ORIGIN/../lib")
endif()

# The library looks for qarn_svr in the folder the application names; qarn
# looks in its own folder. Both programs therefore go to bin/, and on Windows
# the DLL goes there too so that the programs load it.
install(TARGETS qarnplus qarn_svr qarn EXPORT qarnplusTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION lib
  ARCHIVE DESTINATION lib)
install(FILES include/qarnplus.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/qarnplus DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

install(EXPORT qarnplusTargets NAMESPACE qarnplus:: DESTINATION ${QARN_PACKAGE_DIR})
# The DLLs a Windows consumer's program loads, by name, for
# qarnplus_copy_runtime() in the package's config.
set(QARN_PACKAGE_RUNTIME_DLLS "")
if(WIN32)
  set(QARN_PACKAGE_RUNTIME_DLLS qarnplus.dll)
  foreach(dll ${QARN_MINGW_RUNTIME_DLLS})
    get_filename_component(name "${dll}" NAME)
    list(APPEND QARN_PACKAGE_RUNTIME_DLLS ${name})
  endforeach()
endif()
configure_package_config_file(cmake/qarnplusConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfig.cmake
  INSTALL_DESTINATION ${QARN_PACKAGE_DIR}
  PATH_VARS CMAKE_INSTALL_BINDIR)
# Architecture-independent on purpose: the config itself tells a 64-bit
# consumer what to change, instead of the version check rejecting it silently.
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfigVersion.cmake
  COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/qarnplusConfigVersion.cmake
  DESTINATION ${QARN_PACKAGE_DIR})

# pkg-config: every path is computed from the .pc file's own folder.
if(WIN32)
  set(QARN_PC_ARCH_FLAG "")
else()
  set(QARN_PC_ARCH_FLAG "-m32 ")
endif()
configure_file(cmake/qarnplus.pc.in ${CMAKE_CURRENT_BINARY_DIR}/qarnplus.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qarnplus.pc DESTINATION lib/pkgconfig)

# Windows: the MinGW runtime DLLs the programs load, from the compiler that
# built them (cmake/mingw_runtime.cmake), go beside the programs. A consumer
# gets the toolchain file of that very compiler (the posix thread model).
if(WIN32)
  install(FILES ${QARN_MINGW_RUNTIME_DLLS} DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/qarnplus.def DESTINATION lib)
  install(FILES cmake/mingw-i686-posix.cmake DESTINATION ${QARN_PACKAGE_DIR} RENAME win32-i686.cmake)
endif()
