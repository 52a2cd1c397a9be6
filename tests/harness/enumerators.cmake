# Enumerator names through kivrun on a unit kivinst harness built, one row
# each: the exit status and what the output must say.
#   cmake -DKIVRUN=exe -DLIBRARY=lib -DCATALOG=json -DUNITS=dir -DWORK=dir -P enumerators.cmake
#
cmake_minimum_required(VERSION 3.20)

# name | arguments after the library (@UNITS@, @WORK@ replaced) | exit | regex
set(rows
  "names_in_cells|run -q @UNITS@/lamp.csv|0|"
  "shown_in_failures|run @UNITS@/lamp_fails.csv|1|expected LAMP_ON \\(1\\), got LAMP_RAMP \\(2\\)"
  "shown_by_show_outputs|run -q @UNITS@/lamp.csv --show-outputs|0|request=LAMP_RAMP \\(2\\) level=10 -> return=LAMP_RAMP \\(2\\) mode=LAMP_RAMP \\(2\\)"
  "shown_in_json|run -q @UNITS@/lamp_fails.csv --json @WORK@/fails.json|1|"
  "unknown_input_name|run @UNITS@/lamp_bad.csv|2|lamp_bad.csv:2:[0-9]+: 'LAMP_RAPM' is no enumerator of input Lamp_Step.request \\(did you mean 'LAMP_RAMP'\\?\\). expected LAMP_FAULT, LAMP_OFF, LAMP_ON, LAMP_RAMP or an integer"
  "unknown_output_name|run @UNITS@/lamp_bad.csv|2|lamp_bad.csv:3:[0-9]+: 'LAMP_OF' is no enumerator of output Lamp_Step.return \\(did you mean 'LAMP_OFF'"
  "listed_by_info|info|0|input +[0-9]+ +Lamp_Step.request +int32_t [-0-9.]+  enum LAMP_FAULT=-1 LAMP_OFF=0 LAMP_ON=1 LAMP_RAMP=2"
)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" f "${row}")
  list(GET f 0 name)
  list(GET f 1 args)
  list(GET f 2 want)
  list(LENGTH f n)
  set(regex "")
  if(n GREATER 3)
    list(GET f 3 regex)
  endif()
  string(REPLACE "@UNITS@" "${UNITS}" args "${args}")
  string(REPLACE "@WORK@" "${WORK}" args "${args}")
  separate_arguments(args UNIX_COMMAND "${args}")
  list(GET args 0 command)
  list(REMOVE_AT args 0)
  execute_process(COMMAND ${KIVRUN} ${command} ${LIBRARY} --catalog ${CATALOG} ${args}
                  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL want)
    message(FATAL_ERROR "${name}: exit ${rc}, expected ${want}\n${out}\n${err}")
  endif()
  if(regex AND NOT "${out}${err}" MATCHES "${regex}")
    message(FATAL_ERROR "${name}: output does not match ${regex}\n${out}\n${err}")
  endif()
endforeach()
# The JSON keeps the value a number and adds the name beside it.
file(READ ${WORK}/fails.json json)
string(JSON actual GET "${json}" cases 0 failed_checks 0 actual)
string(JSON actual_name GET "${json}" cases 0 failed_checks 0 actual_name)
if(NOT actual STREQUAL "2" OR NOT actual_name STREQUAL "LAMP_RAMP")
  message(FATAL_ERROR "shown_in_json: actual ${actual}, actual_name ${actual_name}\n${json}")
endif()
