cmake_minimum_required(VERSION 3.25)
# Traces a run of the tour and compares it with the trace the reference
# shows, line for line. Masked: the times, the session, and the size of the
# Invoke requests, whose texts carry addresses of the running process.
#   cmake -DTOUR=<tour> -DEXPECTED=<tour.trace> -DWORK=<dir> -P docs_trace_test.cmake

function(normalised_lines out file)
  file(STRINGS ${file} lines)
  set(result "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "^ *[0-9]+\\.[0-9]+ ms  session [0-9a-f]+" "TIME  session S" line "${line}")
    string(REGEX REPLACE "bytes  [0-9]+\\.[0-9]+ ms$" "bytes  TIME" line "${line}")
    string(REGEX REPLACE "(->    QARN_Driver   Invoke +)[0-9]+ bytes" "\\1N bytes" line "${line}")
    string(APPEND result "${line}\n")
  endforeach()
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
execute_process(COMMAND ${CMAKE_COMMAND} -E env QARN_TRACE=${WORK}/tour.trace ${TOUR}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the tour failed (${rc}):\n${out}${err}")
endif()
normalised_lines(actual ${WORK}/tour.trace)
normalised_lines(expected ${EXPECTED})
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "the tour's trace is not the one the reference shows.\nexpected:\n${expected}\nactual:\n${actual}")
endif()
