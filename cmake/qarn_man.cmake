cmake_minimum_required(VERSION 3.25)
# Writes the man page of qarn from qarn's own help: `qarn --help` and
# `qarn help COMMAND` for every command it lists, kept line for line.
#   cmake -DQARN=<qarn> -DOUTPUT=<qarn.1> -P qarn_man.cmake

function(qarn_output out)
  execute_process(COMMAND ${QARN} ${ARGN} OUTPUT_VARIABLE text RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "qarn ${ARGN} exited with ${rc}")
  endif()
  string(REPLACE "\r" "" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Help text as roff: no fill, so the columns stay as qarn prints them.
function(qarn_roff_block out text)
  string(REPLACE "\\" "\\e" text "${text}")
  string(REPLACE "-" "\\-" text "${text}")
  # A line that starts with . or ' would be read as a request.
  string(PREPEND text "\n")
  string(REPLACE "\n." "\n\\&." text "${text}")
  string(REPLACE "\n'" "\n\\&'" text "${text}")
  string(REGEX REPLACE "^\n" "" text "${text}")
  string(REGEX REPLACE "\n$" "" text "${text}")
  set(${out} ".nf\n${text}\n.fi\n" PARENT_SCOPE)
endfunction()

qarn_output(help --help)
qarn_output(version --version)
string(STRIP "${version}" version)

# The commands are the lines under "commands:" up to the next unindented line.
string(REGEX MATCH "\ncommands:\n(  [^\n]*\n)+" command_block "${help}")
string(REGEX MATCHALL "\n  [a-z]+" commands "${command_block}")
list(TRANSFORM commands STRIP)
if(NOT commands)
  message(FATAL_ERROR "qarn --help lists no commands")
endif()

qarn_roff_block(help_roff "${help}")
set(page ".TH QARN 1 \"\" \"${version}\" \"qarnplus\"\n")
string(APPEND page ".SH NAME\nqarn \\- client of the QARN document server, built on the qarnplus library\n")
string(APPEND page ".SH SYNOPSIS\n.B qarn\n[\\fIOPTIONS\\fR] \\fICOMMAND\\fR [\\fIARGS\\fR...]\n")
string(APPEND page ".SH DESCRIPTION\nWhat\n.B qarn \\-\\-help\nprints:\n.PP\n${help_roff}")
string(APPEND page ".SH COMMANDS\nWhat\n.B qarn help\n\\fICOMMAND\\fR prints for each command.\n")
foreach(command IN LISTS commands)
  if(command STREQUAL "help")
    continue()
  endif()
  qarn_output(command_help help ${command})
  qarn_roff_block(command_roff "${command_help}")
  string(APPEND page ".SS ${command}\n${command_roff}")
endforeach()
string(APPEND page ".SH VERSION\n${version}\n")
string(APPEND page ".SH SEE ALSO\nThe qarnplus API reference, installed in share/doc/qarnplus/html.\n")
file(WRITE ${OUTPUT} "${page}")
