# One golden case: kivinst on DIR/NAME.c must write DIR/NAME.instrumented.c,
# DIR/NAME_records.def and DIR/NAME_sites.json exactly, and print
# DIR/NAME.stderr when that exists. Without DIR/NAME.instrumented.c the input
# must be refused: exit 2, nothing written.
# KIV_GENGOLDEN=1 in the environment writes the expectations instead.
# The instrumented source must also compile as C, warning-free, against the
# probe runtime (CC, SRC).
#   -DKIVINST=exe -DNAME=name -DDIR=dir -DOUT=dir -DCC=compiler -DSRC=dir
file(REMOVE_RECURSE ${OUT}/${NAME})
file(MAKE_DIRECTORY ${OUT}/${NAME})
set(out ${OUT}/${NAME})
set(files ${NAME}.instrumented.c ${NAME}_records.def ${NAME}_sites.json)
execute_process(COMMAND ${KIVINST} -u 7 -o ${out}/${NAME}.instrumented.c -r ${out}/${NAME}_records.def ${NAME}.c
  WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
# The compiler names the input by its absolute path; the expectation may not.
string(REPLACE "${DIR}/" "" err "${err}")

if(DEFINED ENV{KIV_GENGOLDEN})
  if(rc EQUAL 0)
    foreach(file ${files})
      file(COPY ${out}/${file} DESTINATION ${DIR})
    endforeach()
    file(REMOVE ${DIR}/${NAME}.stderr)
    if(err)
      file(WRITE ${DIR}/${NAME}.stderr "${err}")
    endif()
  endif()
  message(STATUS "${NAME}: expectations written (exit ${rc})")
  return()
endif()

if(NOT EXISTS ${DIR}/${NAME}.instrumented.c)
  foreach(file ${files})
    if(EXISTS ${out}/${file})
      message(FATAL_ERROR "${NAME}.c refused, yet ${file} was written")
    endif()
  endforeach()
  if(NOT rc EQUAL 2)
    message(FATAL_ERROR "${NAME}.c must be refused with exit 2 and nothing written; exit ${rc}\n${err}")
  endif()
  if(NOT err MATCHES "${NAME}\\.c:[0-9]+:[0-9]+: error")
    message(FATAL_ERROR "no located error for ${NAME}.c:\n${err}")
  endif()
  return()
endif()

if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kivinst exited ${rc}\n${err}")
endif()
foreach(file ${files})
  execute_process(COMMAND ${CMAKE_COMMAND} -E compare_files ${DIR}/${file} ${out}/${file} RESULT_VARIABLE diff)
  if(diff)
    execute_process(COMMAND diff -u ${DIR}/${file} ${out}/${file})
    message(SEND_ERROR "${file} differs from the expectation (KIV_GENGOLDEN=1 rewrites it)")
  endif()
endforeach()
set(want "")
if(EXISTS ${DIR}/${NAME}.stderr)
  file(READ ${DIR}/${NAME}.stderr want)
endif()
if(NOT "${err}" STREQUAL "${want}")
  message(SEND_ERROR "diagnostics differ:\n--- expected\n${want}--- got\n${err}")
endif()
execute_process(COMMAND ${CC} -std=c11 -fsyntax-only -Wall -Wextra -Werror -I${SRC} ${out}/${NAME}.instrumented.c
  WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(SEND_ERROR "${NAME}.instrumented.c does not compile as C against the probe runtime:\n${err}")
endif()
