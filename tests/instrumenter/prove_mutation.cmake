# The behaviour prover leans on the guards it sees: with one guard removed
# from a unit, the goal it guarded is no longer proven unreachable. Each row
# of ROWS: unit source | the text removed (a guard) | what replaces it | a
# proof (its reason, a regular expression) that must be found before and
# must be gone after. A CMake list cannot hold ';': rows write it '%'.
#   -DKIVINST=exe -DUNITS=dir -DWORK=dir
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
set(ROWS
  "debounce.c|    debounce_count = 0u%\n    if (seen == DEBOUNCE_PRESSED)|    if (seen == DEBOUNCE_PRESSED)|oneAbove: `debounce_count < DEBOUNCE_SAMPLES`"
  "window_lifter.c|} else if (wl.afterrun < WL_AFTERRUN_CYCLES) {|} else {|oneAbove: `wl.afterrun < WL_AFTERRUN_CYCLES`"
  "window_lifter.c|wl.position = sat_i16((int32_t)wl.position + step, 0, WL_POS_TOP)%|wl.position = (int16_t)(wl.position + step)%|oneBelow: `wl.position > 0`"
  "window_lifter.c|state == WL_AUTO_UP%|state == WL_MANUAL_UP%|oneBelow: `state == WL_AUTO_DOWN`"
  # Relations between the state and a counter, kept apart per state.
  "window_lifter.c|wl.reverse_left = WL_REVERSE_CYCLES%|wl.reverse_left = wl.reverse_left%|falseSeen: `wl.reverse_left > 0u`"
  "window_lifter.c|        wl.position = 0%\n        return WL_IDLE%|        wl.position = 0%\n        return wl.state%|TU1_RELOP_31 oneAbove: `wl.stall_cycles"
  # A local set from a counter narrows the counter where it is tested.
  "seat_heating_control.c|StageCounter = 0u%|StageCounter = 4u%|oneAbove: `next == 4`"
)
set(n 0)
foreach(row IN LISTS ROWS)
  math(EXPR n "${n} + 1")
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 unit)
  list(GET fields 1 guard)
  list(GET fields 2 replacement)
  list(GET fields 3 proof)
  string(REPLACE "\\n" "\n" guard "${guard}")
  string(ASCII 59 semicolon)
  string(REPLACE "%" "${semicolon}" guard "${guard}")
  string(REPLACE "%" "${semicolon}" replacement "${replacement}")
  file(READ ${UNITS}/${unit} text)
  string(REPLACE "${guard}" "${replacement}" mutant "${text}")
  if(mutant STREQUAL text)
    message(FATAL_ERROR "row ${n}: ${unit} holds no '${guard}'")
  endif()
  foreach(kind original mutant)
    set(dir ${WORK}/${n}_${kind})
    file(MAKE_DIRECTORY ${dir}/src)
    if(kind STREQUAL "original")
      file(WRITE ${dir}/src/${unit} "${text}")
    else()
      file(WRITE ${dir}/src/${unit} "${mutant}")
    endif()
    execute_process(COMMAND ${KIVINST} harness --no-build -o ${dir}/out -I ${UNITS} --map ${dir}/map.json ${dir}/src/${unit}
      RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "row ${n} ${kind}: kivinst harness exit ${rc}\n${err}")
    endif()
    file(GLOB proven ${dir}/out/*.proven.justify.csv)
    file(READ ${proven} csv)
    string(REGEX MATCHALL "${proof}" found "${csv}")
    list(LENGTH found count_${kind})
  endforeach()
  if(count_original EQUAL 0)
    message(SEND_ERROR "row ${n}: '${proof}' is not proven on the unit as it is")
  endif()
  if(NOT count_mutant EQUAL 0)
    message(SEND_ERROR "row ${n}: '${proof}' is still proven with '${guard}' removed from ${unit}")
  endif()
  message(STATUS "row ${n}: ${count_original} proof(s) '${proof}', none without the guard")
endforeach()

# A construct the prover cannot follow ends the proof, named at its place,
# and nothing rests on the analysis: only the operands' types prove anything.
set(unknown_rows
  "none|static int down(int n) { return n% }|-"
  "recursion|static int down(int n) { return n > 0 ? down(n - 1) : 0% }|recursion (down calls itself)"
  "pointer|static int twice(int n) { return 2 * n% } static int (*f)(int) = twice%|a call through a function pointer"
  "goto|static int down(int n) { again: if (n > 0) { n--% goto again% } return n% }|a goto or label"
)
foreach(row IN LISTS unknown_rows)
  string(REPLACE "|" ";" fields "${row}")
  list(GET fields 0 name)
  list(GET fields 1 helper)
  list(GET fields 2 why)
  string(REPLACE "%" "${semicolon}" helper "${helper}")
  set(dir ${WORK}/unknown_${name})
  set(call "down(count)")
  if(name STREQUAL "pointer")
    set(call "f(count)")
  endif()
  file(WRITE ${dir}/src/${name}.c "#include <stdint.h>\n${helper}\nstatic uint8_t count${semicolon}\n"
       "int step(uint8_t in)\n{\n    if (count < 3u) count++${semicolon}\n    if (count > 3u) return in${semicolon}\n"
       "    return ${call}${semicolon}\n}\n")
  execute_process(COMMAND ${KIVINST} harness --no-build -o ${dir}/out --map ${dir}/map.json ${dir}/src/${name}.c
    RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${name}: kivinst harness exit ${rc}\n${err}")
  endif()
  file(GLOB proven ${dir}/out/*.proven.justify.csv)
  file(READ ${proven} csv)
  file(GLOB unproven ${dir}/out/*.unproven.csv)
  file(READ ${unproven} open)
  if(name STREQUAL "none")
    # The control: count stays 0 to 3, and its step is followed.
    if(NOT csv MATCHES "`count > 3u`: never true" OR csv MATCHES "`count < 3u`: never false")
      message(SEND_ERROR "the counter's proofs are not as they should be:\n${csv}")
    endif()
    # count reaches 3 at the end of step 3: what needs it is not within the
    # steps before, exactly (record: count < 3u is 1, count > 3u is 2).
    foreach(bound "RELOP_1,falseSeen,3" "RELOP_1,equal,3" "RELOP_1,oneBelow,2" "RELOP_2,oneBelow,1" "RELOP_2,equal,2")
      if(NOT open MATCHES "_${bound},")
        message(SEND_ERROR "the counter's open goals lack the bound ${bound}:\n${open}")
      endif()
    endforeach()
    continue()
  endif()
  string(FIND "${open}" ",\"the behaviour proof stopped: " stopped)
  string(FIND "${open}" "${why}" named)
  if(stopped EQUAL -1 OR named EQUAL -1)
    message(SEND_ERROR "${name}: the open goals do not say the proof stopped on '${why}':\n${open}")
  endif()
  string(FIND "${err}" "the behaviour proof found nothing: " at)
  string(FIND "${err}" "${why}" named)
  if(at EQUAL -1 OR named EQUAL -1 OR NOT err MATCHES "${name}\\.c:[0-9]+:[0-9]+: ")
    message(SEND_ERROR "${name}: no located note '${why}':\n${err}")
  endif()
  if(csv MATCHES "state invariant")
    message(SEND_ERROR "${name}: a proof rests on an analysis that stopped:\n${csv}")
  endif()
endforeach()
