# The goals kivinst proves unreachable for a shipped unit are never reached:
# a search for every goal (no justification steering it away), over several
# seeds, writes suites that kivrun runs with the proofs, and a proof of a goal
# a case reaches fails the run. Every proof must also be among the goals the
# hand-checked justification file HAND justifies.
#   -DKIVRUN=exe -DLIBRARY=lib.so -DPROVEN=csv -DHAND=csv -DSEEDS=1;2;3 -DBUDGET=n -DWORK=dir
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

file(STRINGS ${PROVEN} proven REGEX "^KIV_G[0-9]+,")
file(STRINGS ${HAND} checked REGEX "^KIV_G[0-9]+,")
list(TRANSFORM checked REPLACE ",.*" "")
list(LENGTH proven n)
if(n EQUAL 0)
  message(FATAL_ERROR "${PROVEN} proves nothing")
endif()
foreach(line ${proven})
  string(REGEX REPLACE ",.*" "" goal "${line}")
  if(NOT goal IN_LIST checked)
    message(SEND_ERROR "${goal} proven unreachable, but ${HAND} does not justify it: ${line}")
  endif()
endforeach()

foreach(seed ${SEEDS})
  execute_process(COMMAND ${KIVRUN} generate ${LIBRARY} -o ${WORK}/seed${seed}.csv --seed ${seed}
                          --max-executions ${BUDGET} -q
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 AND NOT rc EQUAL 1)
    message(FATAL_ERROR "kivrun generate --seed ${seed}: exit ${rc}\n${out}\n${err}")
  endif()
  execute_process(COMMAND ${KIVRUN} run ${LIBRARY} ${WORK}/seed${seed}.csv --justify ${PROVEN} -q
    WORKING_DIRECTORY ${WORK} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "seed ${seed}: a generated case reaches a goal proven unreachable (exit ${rc})\n${out}\n${err}")
  endif()
endforeach()
message(STATUS "${n} proofs hold over seeds ${SEEDS}")
