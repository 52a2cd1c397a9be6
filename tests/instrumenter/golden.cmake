# One golden case: kivinst on DIR/NAME.c must write DIR/NAME.cpp,
# DIR/NAME_records.def and DIR/NAME_sites.json exactly, and print DIR/NAME.stderr when that exists.
# Without DIR/NAME.cpp the input must be refused: exit 2, nothing written.
# KIV_GENGOLDEN=1 in the environment writes the expectations instead.
# The instrumented source must also compile, warning-free, against the probe
# runtime (CXX, SRC).
#   -DKIVINST=exe -DNAME=name -DDIR=dir -DOUT=dir -DCXX=compiler -DSRC=dir
file(REMOVE_RECURSE ${OUT}/${NAME})
file(MAKE_DIRECTORY ${OUT}/${NAME})
set(out ${OUT}/${NAME})
execute_process(COMMAND ${KIVINST} -u 7 -o ${out}/${NAME}.cpp ${NAME}.c
  WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
# The compiler names the input by its absolute path; the expectation may not.
string(REPLACE "${DIR}/" "" err "${err}")

if(DEFINED ENV{KIV_GENGOLDEN})
  if(rc EQUAL 0)
    file(COPY ${out}/${NAME}.cpp ${out}/${NAME}_records.def ${out}/${NAME}_sites.json DESTINATION ${DIR})
    if(err)
      file(WRITE ${DIR}/${NAME}.stderr "${err}")
    endif()
  endif()
  message(STATUS "${NAME}: expectations written (exit ${rc})")
  return()
endif()

if(NOT EXISTS ${DIR}/${NAME}.cpp)
  if(NOT rc EQUAL 2 OR EXISTS ${out}/${NAME}.cpp OR EXISTS ${out}/${NAME}_records.def OR EXISTS ${out}/${NAME}_sites.json)
    message(FATAL_ERROR "${NAME}.c must be refused with exit 2 and nothing written; exit ${rc}\n${err}")
  endif()
  if(NOT err MATCHES "${NAME}\\.c:[0-9]+:[0-9]+: error")
    message(FATAL_ERROR "no located compiler error for ${NAME}.c:\n${err}")
  endif()
  return()
endif()

if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kivinst exited ${rc}\n${err}")
endif()
foreach(file ${NAME}.cpp ${NAME}_records.def ${NAME}_sites.json)
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
execute_process(COMMAND ${CXX} -std=c++20 -fsyntax-only -Wall -Wextra -Werror -I${SRC} ${out}/${NAME}.cpp
  WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(SEND_ERROR "${NAME}.cpp does not compile against the probe runtime:\n${err}")
endif()
