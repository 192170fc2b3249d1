cmake_minimum_required(VERSION 3.25)
# The README shows the tour as a copy; it must be the program itself.
#   cmake -DREADME=<README.md> -DTOUR=<tour.cpp> -P docs_readme_tour_test.cmake

file(READ ${README} readme)
file(READ ${TOUR} tour)
string(FIND "${readme}" "```cpp\n" start)
if(start EQUAL -1)
  message(FATAL_ERROR "${README} has no C++ block")
endif()
math(EXPR start "${start} + 7")
string(SUBSTRING "${readme}" ${start} -1 rest)
string(FIND "${rest}" "```\n" end)
string(SUBSTRING "${rest}" 0 ${end} shown)
if(NOT shown STREQUAL tour)
  message(FATAL_ERROR "the README's tour differs from ${TOUR}: copy the file into the README's C++ block")
endif()
