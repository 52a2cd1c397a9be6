# kivinst harness and kivinst --goals give one goal table for one unit: the
# harness's goals.def, byte for byte, is what --goals proposes for the record
# tables the harness wrote beside it (a unit with divisors, whose records get
# no goal, numbers its later goals the same way in both).
#   -DKIVINST=exe -DSOURCE=unit.c -DOUT=dir
file(REMOVE_RECURSE ${OUT})
execute_process(COMMAND ${KIVINST} harness --no-build -o ${OUT} ${SOURCE} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kivinst harness failed (${rc}): ${err}")
endif()
file(GLOB tables ${OUT}/unit/*_records.def)
execute_process(COMMAND ${KIVINST} --goals ${tables} RESULT_VARIABLE rc OUTPUT_VARIABLE proposed ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kivinst --goals failed (${rc}): ${err}")
endif()
file(READ ${OUT}/unit/goals.def harness)
if(NOT proposed STREQUAL harness)
  file(WRITE ${OUT}/proposed_goals.def "${proposed}")
  message(FATAL_ERROR "${OUT}/unit/goals.def differs from what --goals proposes (${OUT}/proposed_goals.def)")
endif()
if(NOT harness MATCHES "_dbz_")
  message(FATAL_ERROR "${SOURCE} has no divisor records: the test proves nothing")
endif()
