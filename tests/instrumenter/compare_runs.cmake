# Runs one suite on the hand-written, the generated and the plain library.
# Every check must pass on all three (kivrun exits 0); the hand-written and
# the generated library must reach the same goals, first at the same case
# and step.
#   -DKIVRUN=exe -DCOMMON=args -DSUITE=csv -DHAND=so -DGENERATED=so -DPLAIN=so -DOUT=dir
foreach(which HAND GENERATED PLAIN)
  execute_process(COMMAND ${KIVRUN} run ${COMMON} --json ${OUT}/${which}.json ${${which}} ${SUITE}
    RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${which} library (${${which}}): kivrun exited ${rc}\n${out}${err}")
  endif()
endforeach()

# A run that checked nothing proves nothing: every library must have passed
# every case with the same, non-zero number of checks.
set(checks_seen "")
foreach(which HAND GENERATED PLAIN)
  file(READ ${OUT}/${which}.json json)
  string(JSON ncases LENGTH "${json}" cases)
  string(JSON passed GET "${json}" summary passed)
  if(ncases EQUAL 0 OR NOT passed EQUAL ncases)
    message(FATAL_ERROR "${which}: ${passed} of ${ncases} cases passed")
  endif()
  set(checks 0)
  math(EXPR last "${ncases} - 1")
  foreach(i RANGE ${last})
    string(JSON c GET "${json}" cases ${i} checks)
    math(EXPR checks "${checks} + ${c}")
  endforeach()
  if(checks EQUAL 0 OR (checks_seen AND NOT checks EQUAL checks_seen))
    message(FATAL_ERROR "${which}: ${checks} checks, another library ${checks_seen}")
  endif()
  set(checks_seen ${checks})
endforeach()
message(STATUS "${ncases} cases, ${checks} output checks passed on each library")

include(${CMAKE_CURRENT_LIST_DIR}/../goal_vector.cmake)

same_goals(${OUT}/HAND.json ${OUT}/GENERATED.json "" n reached)
message(STATUS "${n} goals, ${reached} reached, the same on both libraries")
