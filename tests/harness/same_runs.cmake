# Runs suites on the hand-written and the generated library of one unit, each
# with its own catalog. Every check must pass on both with the same non-zero
# number of checks, and every goal must be reached alike: first at the same
# case and step.
#   -DKIVRUN=exe -DSUITES=a.csv,b.csv -DHAND=so -DHAND_CATALOG=json
#   -DGENERATED=so -DGENERATED_CATALOG=json -DOUT=dir
include(${CMAKE_CURRENT_LIST_DIR}/../goal_vector.cmake)

file(MAKE_DIRECTORY ${OUT})
string(REPLACE "," ";" SUITES "${SUITES}")
foreach(suite IN LISTS SUITES)
  get_filename_component(stem ${suite} NAME)
  set(checks_seen "")
  foreach(which HAND GENERATED)
    set(json ${OUT}/${stem}.${which}.json)
    execute_process(COMMAND ${KIVRUN} run -q --catalog ${${which}_CATALOG} --json ${json} ${${which}} ${suite}
      RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "${stem} on the ${which} library (${${which}}): kivrun exited ${rc}\n${out}${err}")
    endif()
    file(READ ${json} text)
    string(JSON ncases LENGTH "${text}" cases)
    string(JSON passed GET "${text}" summary passed)
    if(ncases EQUAL 0 OR NOT passed EQUAL ncases)
      message(FATAL_ERROR "${stem} on ${which}: ${passed} of ${ncases} cases passed")
    endif()
    set(checks 0)
    math(EXPR last "${ncases} - 1")
    foreach(i RANGE ${last})
      string(JSON c GET "${text}" cases ${i} checks)
      math(EXPR checks "${checks} + ${c}")
    endforeach()
    if(checks_seen AND NOT checks EQUAL checks_seen)
      message(FATAL_ERROR "${stem}: ${checks} checks on ${which}, ${checks_seen} on the other")
    endif()
    set(checks_seen ${checks})
  endforeach()
  same_goals(${OUT}/${stem}.HAND.json ${OUT}/${stem}.GENERATED.json "${stem}: " n reached)
  message(STATUS "${stem}: ${ncases} cases, ${checks} checks passed on both; ${n} goals, ${reached} reached alike")
endforeach()
