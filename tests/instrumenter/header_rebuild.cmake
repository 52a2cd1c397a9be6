# An edit of a header the unit includes, however deep, regenerates the unit
# set on the next build, and a build with nothing changed does not. Run with
# every generator at hand; the project sits in a folder with a space, which
# the depfile must escape.
include(${CMAKE_CURRENT_LIST_DIR}/../run_checked.cmake)

set(generators "Unix Makefiles")
find_program(NINJA ninja)
if(NINJA)
  list(APPEND generators Ninja)
endif()

# Each row: what the header's define becomes (- for no edit), whether
# kivinst runs, the threshold the sites then hold.
set(steps "-|no|3" "5|yes|5" "-|no|5" "7|yes|7")

foreach(generator IN LISTS generators)
  string(REPLACE " " "_" g "${generator}")
  set(project "${WORK}/${g}/a unit")
  file(REMOVE_RECURSE ${WORK}/${g})
  file(COPY ${UNIT}/ DESTINATION "${project}")
  set(launcher)
  if(CCACHE)
    set(launcher -DCMAKE_C_COMPILER_LAUNCHER=${CCACHE} -DCMAKE_CXX_COMPILER_LAUNCHER=${CCACHE})
  endif()
  run("configure (${generator})" ${CMAKE_COMMAND} -G ${generator} -S "${project}" -B "${project}/build"
      -DKIV_RECIPE=${RECIPE} -DKIVINST_EXECUTABLE=${KIVINST} -DCMAKE_BUILD_TYPE=Release ${launcher})
  run("first build (${generator})" ${CMAKE_COMMAND} --build "${project}/build" -j2)
  foreach(step IN LISTS steps)
    string(REPLACE "|" ";" step "${step}")
    list(GET step 0 value)
    list(GET step 1 runs)
    list(GET step 2 want)
    if(NOT value STREQUAL "-")
      file(WRITE "${project}/debounce limits.h" "#define THRESHOLD ${value}\n")
    endif()
    run("build (${generator}, threshold ${value})" ${CMAKE_COMMAND} --build "${project}/build" -j2)
    string(FIND "${out}" "kivinst harness: the unit set" at)
    if(runs STREQUAL "yes" AND at EQUAL -1)
      message(FATAL_ERROR "${generator}: the threshold became ${value}, kivinst did not run:\n${out}")
    elseif(runs STREQUAL "no" AND NOT at EQUAL -1)
      message(FATAL_ERROR "${generator}: nothing changed, yet kivinst ran:\n${out}")
    endif()
    file(READ "${project}/build/debounce_harness/unit/debounce_sites.json" sites)
    string(REGEX MATCHALL "\"constants\": \\[[0-9]+\\]" constants "${sites}")
    if(NOT constants STREQUAL "\"constants\": [${want}];\"constants\": [${want}]")
      message(FATAL_ERROR "${generator}: the threshold is ${want}, the sites hold ${constants}")
    endif()
  endforeach()
endforeach()
