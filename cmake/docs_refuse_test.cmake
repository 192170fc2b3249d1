cmake_minimum_required(VERSION 3.25)
# Runs the reference's configuration over a copy of the headers from which
# the documentation of f_QARNSVR_GetVersion is taken out, and requires doxygen
# to fail and to name the function.
#   cmake -DDOXYGEN=<doxygen> -DDOXYFILE=<Doxyfile> -DSOURCE=<source> -DWORK=<dir> -P docs_refuse_test.cmake

file(REMOVE_RECURSE ${WORK})
file(COPY ${SOURCE}/include DESTINATION ${WORK})

set(header ${WORK}/include/qarnplus/server.h)
file(READ ${header} text)
string(REGEX REPLACE "\n/\\*\\*[^\n]*\\*/\n(QARNPLUS_API int f_QARNSVR_GetVersion)" "\n\\1" stripped "${text}")
if(stripped STREQUAL text)
  message(FATAL_ERROR "no documentation comment found above f_QARNSVR_GetVersion in ${header}")
endif()
file(WRITE ${header} "${stripped}")

file(READ ${DOXYFILE} config)
string(REPLACE "${SOURCE}/include" "${WORK}/include" config "${config}")
string(APPEND config "\nOUTPUT_DIRECTORY = ${WORK}/out\n")
file(WRITE ${WORK}/Doxyfile "${config}")

execute_process(COMMAND ${DOXYGEN} ${WORK}/Doxyfile WORKING_DIRECTORY ${SOURCE}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(rc EQUAL 0)
  message(FATAL_ERROR "doxygen accepted an undocumented f_QARNSVR_GetVersion:\n${out}${err}")
endif()
if(NOT err MATCHES "f_QARNSVR_GetVersion[^\n]*not documented")
  message(FATAL_ERROR "doxygen failed, but not for the undocumented function:\n${out}${err}")
endif()
message(STATUS "refused as expected: ${err}")
