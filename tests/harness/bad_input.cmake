# kivinst harness on bad input, one row each: exit 2, a message that says
# what and where, and the output folder exactly as it was (no temporary
# folder left beside it).
#   cmake -DKIVINST=exe -DCASES=dir -DWORK=dir -P bad_input.cmake
#
# name | arguments (relative to a copy of CASES) | message regex
set(rows
  "does_not_parse|broken.c|broken.c:4:17: error: expected ... after return statement.*does not parse"
  "no_entry_lists_candidates|no_entry.c|no entry function found.*candidates: pong, ping"
  "named_entry_gives_nearest|--entry debounse unit.c|entry debounse is not a function the unit defines. nearest: debounce"
  "function_pointer_parameter|callback.c|callback.c:4:34: parameter notify of entry on_event is a function pointer.*--entry"
  "variadic_entry|variadic.c|variadic.c:2:5: entry sum takes variable arguments.*wrapper"
  "unit_file_unknown_function|--unit unknown_scope.json unit.c|unknown_scope.json:4:5: scope debounse names no function the unit defines. nearest: debounce"
  "unit_file_unknown_variable|--unit unknown_variable.json unit.c|unknown_variable.json:5:44: Sensor_Nope .in an input of scope debounce. is no variable"
  "unit_file_unknown_override|--unit unknown_override.json unit.c|unknown_override.json:5:21: scope debounce has no variable state->cuont. nearest: state->count"
  "unit_file_unknown_field|--unit bad_field.json unit.c|bad_field.json:5:7: unknown field \"inptus\" in debounce .did you mean \"inputs\"\\?."
  "unit_file_bad_setter|--unit bad_setter.json unit.c|bad_setter.json:5:42: setter \"ROUND\" is neither PLAIN nor BOOL"
  "unit_file_not_json|--unit not_json.json unit.c|not_json.json:4:39: not JSON"
  "map_file_ids_collide|--unit colliding.json unit.c|colliding.kivmap.json:8:5: ID 2 of input debounce.state->count is also the ID of input debounce.sample"
  "pinned_ids_collide|--unit pinned_collision.json unit.c|ID 7 of input debounce.sample is already the ID of scope debounce"
)

file(REMOVE_RECURSE ${WORK})
file(COPY ${CASES}/ DESTINATION ${WORK})
set(failed 0)
foreach(row IN LISTS rows)
  string(REGEX MATCH "^([^|]*)[|]([^|]*)[|](.*)$" _ "${row}")
  set(name ${CMAKE_MATCH_1})
  separate_arguments(args UNIX_COMMAND "${CMAKE_MATCH_2}")
  set(want "${CMAKE_MATCH_3}")
  # An earlier harness in the output folder must survive the failure.
  set(out ${WORK}/out_${name})
  file(WRITE ${out}/unit/scopes.def "earlier\n")
  execute_process(COMMAND ${KIVINST} harness --no-build -o ${out} ${args}
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  file(GLOB_RECURSE left RELATIVE ${out} ${out}/*)
  file(GLOB strays ${WORK}/.out_${name}.*)
  file(READ ${out}/unit/scopes.def kept)
  if(NOT rc EQUAL 2)
    message(SEND_ERROR "${name}: exit ${rc}, not 2\n${stderr}")
    set(failed 1)
  elseif(NOT stderr MATCHES "${want}")
    message(SEND_ERROR "${name}: the message does not match\n  want: ${want}\n  got:  ${stderr}")
    set(failed 1)
  elseif(NOT left STREQUAL "unit/scopes.def" OR NOT kept STREQUAL "earlier\n" OR strays)
    message(SEND_ERROR "${name}: the output folder was touched: ${left} ${strays}")
    set(failed 1)
  else()
    message(STATUS "${name}: ok")
  endif()
endforeach()
file(GLOB maps ${WORK}/*.kivmap.json)
list(LENGTH maps nmaps)
if(NOT nmaps EQUAL 2)
  message(SEND_ERROR "a failing run wrote a map file: ${maps}")
endif()
if(failed)
  message(FATAL_ERROR "bad input not handled as it should be")
endif()
