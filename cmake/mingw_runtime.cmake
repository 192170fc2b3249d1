# Windows programs load qarnplus.dll and the MinGW runtime DLLs from their own
# folder. The runtime comes from the compiler that built them (its thread
# model decides which copy), found once here for the build tree and the install.
set(QARN_MINGW_RUNTIME_DLLS "")
foreach(dll libgcc_s_dw2-1.dll libstdc++-6.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE path OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(IS_ABSOLUTE "${path}" AND EXISTS "${path}")
    file(REAL_PATH "${path}" path)
    list(APPEND QARN_MINGW_RUNTIME_DLLS "${path}")
  else()
    message(WARNING "The MinGW runtime ${dll} was not found; the programs may not start")
  endif()
endforeach()

# Copies the DLLs that `target` loads beside it after each build, so that the
# program runs straight from the build tree, on Windows or under Wine.
function(qarn_runtime_beside target)
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${QARN_MINGW_RUNTIME_DLLS} $<TARGET_RUNTIME_DLLS:${target}>
            $<TARGET_FILE_DIR:${target}>
    COMMAND_EXPAND_LISTS)
endfunction()
