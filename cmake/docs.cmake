# The API reference (Doxygen, from the public headers and docs/) and the man
# page of qarn (from qarn's own help). Both are part of the default build when
# Doxygen is there, and both are installed.
find_package(Doxygen QUIET)
# The sanitizer and fuzz builds are for the code; the plain build makes the docs.
if(DOXYGEN_FOUND AND NOT QARN_SANITIZE AND NOT QARN_FUZZ)
  set(qarn_docs_default ON)
else()
  set(qarn_docs_default OFF)
endif()
option(QARN_DOCS "Build the API reference and the qarn man page" ${qarn_docs_default})
if(NOT QARN_DOCS)
  return()
endif()
if(NOT DOXYGEN_FOUND)
  message(FATAL_ERROR "QARN_DOCS is ON but doxygen was not found (Debian: apt install doxygen), or set -DQARN_DOCS=OFF")
endif()

set(QARN_DOCS_OUTPUT ${CMAKE_CURRENT_BINARY_DIR}/docs)
set(QARN_DOCS_GENERATED ${QARN_DOCS_OUTPUT}/generated)
set(QARN_DOCS_RECORD_FILTER "sed -E -f ${PROJECT_SOURCE_DIR}/docs/record_comments.sed")

# The API-code page is made from the same list the code table is generated
# from, so it names every code and record type and cannot fall behind.
set(QARN_RECORD_LIST ${PROJECT_SOURCE_DIR}/include/qarnplus/record_list.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${QARN_RECORD_LIST})
file(READ ${QARN_RECORD_LIST} qarn_record_list)
string(REGEX MATCHALL "X\\([0-9]+, [A-Za-z0-9_]+\\)" qarn_code_lines "${qarn_record_list}")
set(qarn_codes_md "# API codes {#api_codes}\n\n")
string(APPEND qarn_codes_md "Every API code of the document interface and the record type it selects, "
  "from `QARN_API_CODES` in qarnplus/record_list.h. Pass the code with the record "
  "to c_QARNPlus_Legpack::c_QARNPlus_Legpack(SedApiPara*, unsigned long). "
  "USBPrinter has no code: it has a constructor of its own.\n\n"
  "| API code | record type |\n|---:|---|\n")
foreach(line IN LISTS qarn_code_lines)
  string(REGEX MATCH "X\\(([0-9]+), ([A-Za-z0-9_]+)\\)" _ "${line}")
  string(APPEND qarn_codes_md "| ${CMAKE_MATCH_1} | ${CMAKE_MATCH_2} |\n")
endforeach()
string(APPEND qarn_codes_md "| (none) | USBPrinter |\n")
file(CONFIGURE OUTPUT ${QARN_DOCS_GENERATED}/api_codes.md CONTENT "${qarn_codes_md}" @ONLY)

configure_file(${PROJECT_SOURCE_DIR}/docs/Doxyfile.in ${QARN_DOCS_OUTPUT}/Doxyfile @ONLY)

file(GLOB qarn_doc_inputs CONFIGURE_DEPENDS
  ${PROJECT_SOURCE_DIR}/include/qarnplus.h ${PROJECT_SOURCE_DIR}/include/qarnplus/*.h
  ${PROJECT_SOURCE_DIR}/docs/*.md ${PROJECT_SOURCE_DIR}/docs/examples/*
  ${PROJECT_SOURCE_DIR}/examples/consumer/*)
# The stamp is written only when doxygen succeeds, so a warning fails every
# build until it is fixed instead of only the first.
add_custom_command(OUTPUT ${QARN_DOCS_OUTPUT}/html.stamp
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${QARN_DOCS_OUTPUT}/html
  COMMAND ${DOXYGEN_EXECUTABLE} ${QARN_DOCS_OUTPUT}/Doxyfile
  COMMAND ${CMAKE_COMMAND} -E touch ${QARN_DOCS_OUTPUT}/html.stamp
  DEPENDS ${qarn_doc_inputs} ${QARN_DOCS_OUTPUT}/Doxyfile ${QARN_DOCS_GENERATED}/api_codes.md
          ${PROJECT_SOURCE_DIR}/docs/record_comments.sed
  WORKING_DIRECTORY ${PROJECT_SOURCE_DIR}
  COMMENT "API reference (doxygen, any warning fails)"
  VERBATIM)
add_custom_target(docs ALL DEPENDS ${QARN_DOCS_OUTPUT}/html.stamp)
install(DIRECTORY ${QARN_DOCS_OUTPUT}/html/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/html)

# The man page is qarn's --help and every command's help, so it says exactly
# what qarn says. Windows has no man pages, and its qarn.exe would need Wine.
if(NOT WIN32)
  add_custom_command(OUTPUT ${QARN_DOCS_OUTPUT}/qarn.1
    COMMAND ${CMAKE_COMMAND} -DQARN=$<TARGET_FILE:qarn> -DOUTPUT=${QARN_DOCS_OUTPUT}/qarn.1
            -P ${PROJECT_SOURCE_DIR}/cmake/qarn_man.cmake
    DEPENDS qarn ${PROJECT_SOURCE_DIR}/cmake/qarn_man.cmake
    COMMENT "qarn.1 from qarn's help"
    VERBATIM)
  add_custom_target(qarn_man ALL DEPENDS ${QARN_DOCS_OUTPUT}/qarn.1)
  add_dependencies(docs qarn_man)
  install(FILES ${QARN_DOCS_OUTPUT}/qarn.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(QARN_BUILD_TESTS AND NOT WIN32 AND NOT QARN_FUZZ)
  # The reference must refuse an undocumented export: the same configuration
  # over a copy of the headers with one documentation comment taken out.
  add_test(NAME docs_refuse_undocumented
    COMMAND ${CMAKE_COMMAND} -DDOXYGEN=${DOXYGEN_EXECUTABLE} -DDOXYFILE=${QARN_DOCS_OUTPUT}/Doxyfile
            -DSOURCE=${PROJECT_SOURCE_DIR} -DWORK=${QARN_DOCS_OUTPUT}/refuse-test
            -P ${PROJECT_SOURCE_DIR}/cmake/docs_refuse_test.cmake)
  # The README's copy of the tour is the program the tests run.
  add_test(NAME docs_readme_tour_is_the_file
    COMMAND ${CMAKE_COMMAND} -DREADME=${PROJECT_SOURCE_DIR}/README.md
            -DTOUR=${PROJECT_SOURCE_DIR}/examples/consumer/tour.cpp
            -P ${PROJECT_SOURCE_DIR}/cmake/docs_readme_tour_test.cmake)
  # The trace shown in the reference is the tour's: a fresh trace of the tour
  # must have the same lines, times and session aside.
  add_test(NAME docs_trace_is_the_tours
    COMMAND ${CMAKE_COMMAND} -DTOUR=$<TARGET_FILE:tour> -DEXPECTED=${PROJECT_SOURCE_DIR}/docs/examples/tour.trace
            -DWORK=${QARN_DOCS_OUTPUT}/trace-test -P ${PROJECT_SOURCE_DIR}/cmake/docs_trace_test.cmake)
endif()
