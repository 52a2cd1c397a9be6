# The goals kivinst leaves open, shown where a run or a search reports them:
# the file kivinst wrote is found beside the library, each unknown goal is
# listed with its bound and reason in the text and the JSON, and a damaged
# copy (BREAK: "old|new", replaced once) stops the command before it runs
# anything, naming the file and line.
#   -DMODE=run|generate -DKIVRUN=exe -DLIBRARY=lib.so -DSUITE=csv -DUNPROVEN=csv
#   -DCODES=0;1 -DSAYS=regex -DWORK=dir [-DBREAK=old|new]
cmake_policy(SET CMP0057 NEW)  # if(IN_LIST)
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})

set(given "")
if(BREAK)
  string(REPLACE "|" ";" pair "${BREAK}")
  list(GET pair 0 old)
  list(GET pair 1 new)
  file(READ ${UNPROVEN} text)
  string(FIND "${text}" "${old}" at)
  if(at LESS 0)
    message(FATAL_ERROR "'${old}' is not in ${UNPROVEN}")
  endif()
  string(LENGTH "${old}" n)
  string(SUBSTRING "${text}" 0 ${at} head)
  math(EXPR rest "${at} + ${n}")
  string(SUBSTRING "${text}" ${rest} -1 tail)
  file(WRITE ${WORK}/broken.unproven.csv "${head}${new}${tail}")
  set(given --unproven ${WORK}/broken.unproven.csv)
endif()

if(MODE STREQUAL "run")
  set(args run ${LIBRARY} ${SUITE} --json ${WORK}/result.json)
else()
  set(args generate ${LIBRARY} -o ${WORK}/generated.csv --max-executions 2000)
endif()
execute_process(COMMAND ${KIVRUN} ${args} ${given} WORKING_DIRECTORY ${WORK}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc IN_LIST CODES)
  message(FATAL_ERROR "kivrun ${args} ${given}: exit ${rc}, expected one of ${CODES}\n${out}\n${err}")
endif()
if(NOT "${out}${err}" MATCHES "${SAYS}")
  message(FATAL_ERROR "kivrun ${args} ${given} does not say '${SAYS}':\n${out}\n${err}")
endif()
if(BREAK)
  if(EXISTS ${WORK}/result.json OR EXISTS ${WORK}/generated.csv)
    message(FATAL_ERROR "a bad file of unproven goals still let the command write its output")
  endif()
elseif(MODE STREQUAL "run")
  # Every unknown goal the text gives a bound carries it in the JSON too.
  file(READ ${WORK}/result.json json)
  if(NOT json MATCHES "\"unknown\": {[^}]*\"not_within\": [1-9]")
    message(FATAL_ERROR "no unknown goal with its bound in ${WORK}/result.json")
  endif()
endif()
