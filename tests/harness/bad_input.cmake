# kivinst harness on bad input, one row each: exit 2, a message that says
# what and where, and the output folder exactly as it was (no temporary
# folder left beside it).
#   cmake -DKIVINST=exe -DCASES=dir -DWORK=dir -P bad_input.cmake
#
# name | arguments (relative to a copy of CASES; @OUT@ is the output folder)
#      | message regex | files put into the output folder beside the earlier
#        harness (copies of unit.c) | "foreign": the earlier harness has no
#        list of the files kivinst wrote, as in a copy of a hand-made unit
set(rows
  "depfile_is_the_source|--depfile unit.c unit.c|--depfile unit.c is (.*/)?unit.c, which kivinst reads"
  "map_is_the_source|--map unit.c unit.c|--map unit.c is (.*/)?unit.c, which kivinst reads"
  "source_inside_output|@OUT@/mine.c|out_source_inside_output/mine.c is inside .*, which is replaced whole|mine.c"
  "unit_file_inside_output|--unit @OUT@/unit.json unit.c|unit.json is inside .*, which is replaced whole|unit.json"
  "include_inside_output|-I @OUT@/include unit.c|out_include_inside_output/include is inside|include/unit.h"
  "suite_beside_the_library|unit.c|holds .*/my_suite.csv, which kivinst harness did not write.*nothing deleted|my_suite.csv"
  "hand_made_unit|unit.c|holds .*/unit/scopes.def, which kivinst harness did not write||foreign"
  "reserved_global|reserved_global.c|reserved_global.c:4:9: kiv_in_step_x is named like the harness's own"
  "reserved_macro|reserved_macro.c|reserved_macro.c:2:9: IXA_STM is named like the harness's own"
  "reserved_enumerator|reserved_enum.c|reserved_enum.c:2:13: KIV_SCOPE_UID is named like the harness's own"
  "same_scope_name|--unit same_scope_name.json two_entries.c|same_scope_name.json:5:22: scopes up and down are both named step"
  "raw_step|--unit raw_step.json two_entries.c|raw_step.json:4:20: step \"kiv_a.void.. int kiv_b\" of scope up must be a C identifier"
  "escape_in_scope_name|--unit escape_in_name.json two_entries.c|escape_in_name.json:4:5: scope name \"\\\\x1b.31mUp\" cannot be written: it holds a control character"
  "unit_file_is_a_device|--unit /dev/zero unit.c|/dev/zero: not a regular file"
  "map_file_is_a_device|--map /dev/zero unit.c|/dev/zero: not a regular file"
  "no_id_left|--unit max_id.json two_entries.c|max_id.json: ID 2147483647 of scope up is the highest an ID can be"
  "does_not_parse|broken.c|broken.c:4:17: error: expected ... after return statement.*does not parse"
  "no_entry_lists_candidates|no_entry.c|no entry function found.*candidates: pong, ping"
  "named_entry_gives_nearest|--entry debounse --entry Debounce unit.c|entry debounse is not a function the unit defines. nearest: debounce.*entry Debounce is not a function"
  "variadic_entry|variadic.c|variadic.c:2:5: entry sum takes variable arguments.*wrapper"
  "every_problem_at_once|problems.c|problems.c:2:5: entry sum takes variable arguments.*problems.c:7:17: parameter pp of entry take is a pointer to a pointer.*problems.c:7:33: parameter scale of entry take is a floating type.*3 problems. nothing written"
  "unit_file_stub_and_buffer_settings|--unit bad_stubs.json unit.c|bad_stubs.json:8:5: debounce.sample is no pointer.*bad_stubs.json:4:5: key level of stub Io_Read is no integer parameter.*bad_stubs.json:5:5: the unit file sets stub Io_Raed"
  "unit_file_unknown_function|--unit unknown_scope.json unit.c|unknown_scope.json:4:5: scope debounse names no function the unit defines. nearest: debounce"
  "unit_file_unknown_variable|--unit unknown_variable.json unit.c|unknown_variable.json:5:44: Sensor_Nope .in an input of scope debounce. is no variable"
  "unit_file_unknown_override|--unit unknown_override.json unit.c|unknown_override.json:5:21: scope debounce has no variable state->cuont. nearest: state->count"
  "unit_file_unknown_field|--unit bad_field.json unit.c|bad_field.json:5:7: unknown field \"inptus\" in debounce .did you mean \"inputs\"\\?."
  "unit_file_bad_setter|--unit bad_setter.json unit.c|bad_setter.json:5:42: setter \"ROUND\" is neither PLAIN nor BOOL"
  "unit_file_bad_init_rule|--unit bad_init_rule.json unit.c|bad_init_rule.json:3:20: \"init_once_per\" must be \"case\" or \"scope\""
  "unit_file_not_json|--unit not_json.json unit.c|not_json.json:4:39: not JSON"
  "map_file_ids_collide|--unit colliding.json unit.c|colliding.kivmap.json:8:5: ID 2 of input debounce.state->count is also the ID of input debounce.sample"
  "pinned_ids_collide|--unit pinned_collision.json unit.c|ID 7 of input debounce.sample is already the ID of scope debounce"
)

cmake_policy(SET CMP0007 NEW)
file(REMOVE_RECURSE ${WORK})
file(COPY ${CASES}/ DESTINATION ${WORK})
file(READ ${WORK}/unit.c unit_text)
set(failed 0)
foreach(row IN LISTS rows)
  string(REPLACE "|" ";" fields "${row}")
  list(APPEND fields "" "")
  list(GET fields 0 name)
  list(GET fields 1 args)
  list(GET fields 2 want)
  list(GET fields 3 extra)
  list(GET fields 4 foreign)
  set(out ${WORK}/out_${name})
  string(REPLACE "@OUT@" "${out}" args "${args}")
  separate_arguments(args UNIX_COMMAND "${args}")
  # An earlier harness in the output folder must survive the failure, and
  # so must anything else there.
  file(WRITE ${out}/unit/scopes.def "earlier\n")
  set(expected_left unit/scopes.def)
  if(NOT foreign)
    file(WRITE ${out}/.kivinst-files "unit/scopes.def\n")
    list(APPEND expected_left .kivinst-files)
  endif()
  foreach(f IN LISTS extra)
    file(WRITE ${out}/${f} "${unit_text}")
    list(APPEND expected_left ${f})
  endforeach()
  list(SORT expected_left)
  execute_process(COMMAND ${KIVINST} harness --no-build -o ${out} ${args}
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE stdout ERROR_VARIABLE stderr)
  file(GLOB_RECURSE left RELATIVE ${out} ${out}/*)
  list(SORT left)
  file(GLOB strays ${WORK}/.out_${name}.*)
  file(READ ${out}/unit/scopes.def kept)
  if(NOT rc EQUAL 2)
    message(SEND_ERROR "${name}: exit ${rc}, not 2\n${stderr}")
    set(failed 1)
  elseif(NOT stderr MATCHES "${want}")
    message(SEND_ERROR "${name}: the message does not match\n  want: ${want}\n  got:  ${stderr}")
    set(failed 1)
  elseif(NOT left STREQUAL expected_left OR NOT kept STREQUAL "earlier\n" OR strays)
    message(SEND_ERROR "${name}: the output folder was touched: ${left} ${strays}")
    set(failed 1)
  else()
    message(STATUS "${name}: ok")
  endif()
endforeach()

# Outputs named without a folder are in the current one, and a temporary
# folder a killed run left beside the output folder goes on the next run.
set(out ${WORK}/fresh)
file(WRITE ${WORK}/.fresh.kivinst-99999999/.kivinst-files "")
foreach(run 1 2)
  execute_process(COMMAND ${KIVINST} harness --no-build -o fresh --map fresh.json --depfile fresh.d unit.c
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE stderr)
  if(NOT rc EQUAL 0 OR NOT EXISTS ${WORK}/fresh.json OR NOT EXISTS ${WORK}/fresh.d OR NOT EXISTS ${out}/unit/scopes.def)
    message(SEND_ERROR "run ${run} of --map and --depfile in the current folder: exit ${rc}\n${stderr}")
    set(failed 1)
  endif()
endforeach()
if(EXISTS ${WORK}/.fresh.kivinst-99999999)
  message(SEND_ERROR "the temporary folder of a dead run is still there")
  set(failed 1)
endif()
file(REMOVE ${WORK}/fresh.json)

# A source name that cannot be written into #include and #line as it is:
# refused by kivinst harness and plain kivinst alike, nothing written. A name
# that is not UTF-8 is refused only where it goes into CMake text (harness);
# plain kivinst takes it, its sites file escapes it.
string(ASCII 255 byte)
foreach(bad "quo\"te" "new\nline" "latin${byte}")
  file(WRITE "${WORK}/${bad}.c" "${unit_text}")
  set(commands "harness|--no-build|-o|${WORK}/named")
  if(NOT bad MATCHES "latin")
    list(APPEND commands "-u|1|-o|${WORK}/named.c")
  endif()
  foreach(each ${commands})
    string(REPLACE "|" ";" command "${each}")
    execute_process(COMMAND ${KIVINST} ${command} "${bad}.c"
      WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE stderr)
    if(NOT rc EQUAL 2 OR NOT stderr MATCHES "cannot be written into C" OR EXISTS ${WORK}/named OR EXISTS ${WORK}/named.c)
      message(SEND_ERROR "kivinst ${command} on a source named ${bad}.c: exit ${rc}\n${stderr}")
      set(failed 1)
    endif()
  endforeach()
  file(REMOVE "${WORK}/${bad}.c")
endforeach()

file(GLOB maps ${WORK}/*.kivmap.json)
list(LENGTH maps nmaps)
if(NOT nmaps EQUAL 3)
  message(SEND_ERROR "a failing run wrote a map file: ${maps}")
endif()
if(failed)
  message(FATAL_ERROR "bad input not handled as it should be")
endif()
