# The goals kivinst proves unreachable for a shipped unit are never reached:
# a search for every goal (no justification steering it away), over several
# seeds, writes suites that kivrun runs with the proofs, and a proof of a goal
# a case reaches fails the run. Every proof must also be among the goals the
# hand-checked justification file HAND justifies. With UNPROVEN (the goals
# left open, each with the steps known not to reach it), no case reaches a
# goal within its bound.
#   -DKIVRUN=exe -DLIBRARY=lib.so -DPROVEN=csv -DHAND=csv -DSEEDS=1;2;3 -DBUDGET=n -DWORK=dir [-DUNPROVEN=csv]
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

include(${CMAKE_CURRENT_LIST_DIR}/../justified_by.cmake)
kiv_require_justified(${PROVEN} ${HAND} "proven unreachable" proven)
list(LENGTH proven n)
if(n EQUAL 0)
  message(FATAL_ERROR "${PROVEN} proves nothing")
endif()

set(bounded 0)
if(UNPROVEN)
  file(STRINGS ${UNPROVEN} open REGEX "^KIV_G[0-9]+,[^,]*,[^,]*,[1-9]")
  foreach(line ${open})
    string(REGEX MATCH "^KIV_G([0-9]+),[^,]*,[^,]*,([0-9]+)" _ "${line}")
    set(bound_${CMAKE_MATCH_1} ${CMAKE_MATCH_2})
    math(EXPR bounded "${bounded} + 1")
  endforeach()
endif()

foreach(seed ${SEEDS})
  execute_process(COMMAND ${KIVRUN} generate ${LIBRARY} -o ${WORK}/seed${seed}.csv --seed ${seed}
                          --max-executions ${BUDGET} -q
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 AND NOT rc EQUAL 1)
    message(FATAL_ERROR "kivrun generate --seed ${seed}: exit ${rc}\n${out}\n${err}")
  endif()
  execute_process(COMMAND ${KIVRUN} run ${LIBRARY} ${WORK}/seed${seed}.csv --justify ${PROVEN} -q
                          --json ${WORK}/seed${seed}.json
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "seed ${seed}: a generated case reaches a goal proven unreachable (exit ${rc})\n${out}\n${err}")
  endif()
  if(bounded GREATER 0)
    # Each reached goal's first reach: its step, then (keys sorted) its number.
    file(READ ${WORK}/seed${seed}.json json)
    string(REGEX MATCHALL "\"first\": {[^}]*\"step\": [0-9]+[^}]*},[ \n]*\"function\": \"[^\"]*\",[ \n]*\"goal\": [0-9]+" firsts "${json}")
    list(LENGTH firsts reached)
    if(reached EQUAL 0)
      message(FATAL_ERROR "seed ${seed}: no first reach found in ${WORK}/seed${seed}.json")
    endif()
    foreach(first ${firsts})
      string(REGEX MATCH "\"step\": ([0-9]+).*\"goal\": ([0-9]+)$" _ "${first}")
      if(DEFINED bound_${CMAKE_MATCH_2} AND NOT CMAKE_MATCH_1 GREATER bound_${CMAKE_MATCH_2})
        message(SEND_ERROR "seed ${seed}: KIV_G${CMAKE_MATCH_2} is reached at step ${CMAKE_MATCH_1}, "
                           "but ${UNPROVEN} says not within ${bound_${CMAKE_MATCH_2}} steps")
      endif()
    endforeach()
  endif()
endforeach()
message(STATUS "${n} proofs and ${bounded} bounds hold over seeds ${SEEDS}")
