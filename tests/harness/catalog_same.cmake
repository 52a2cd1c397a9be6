# The catalog kivinst harness wrote for a unit set (CATALOG, stamped with
# LIBRARY) against the one the compiled generator GENERATOR writes from the
# same tables as the compiler reads them: byte for byte the same.
include(${CMAKE_CURRENT_LIST_DIR}/../run_checked.cmake)
file(GLOB sites ${GEN}/unit/*_sites.json)
run("the compiled generator" ${GENERATOR} --library ${LIBRARY} ${WORK} ${sites})
execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${WORK} ${CATALOG} RESULT_VARIABLE differ)
if(differ)
  execute_process(COMMAND diff ${WORK} ${CATALOG} OUTPUT_VARIABLE diff)
  message(FATAL_ERROR "kivinst's catalog ${CATALOG} differs from the compiled generator's ${WORK}:\n${diff}")
endif()
