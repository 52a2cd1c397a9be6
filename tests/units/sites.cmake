# The seat heater's sites files are kivinst's: instrumenting the plain units
# again must give the committed files byte for byte. With KIV_GENGOLDEN=1 in
# the environment the committed files are rewritten instead.
#   -DKIVINST=path -DROOT=repository -DUNITS=stem:number;... -DSITES=dir -DOUT=scratch dir
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT})
set(failed "")
foreach(entry ${UNITS})
  string(REPLACE ":" ";" parts ${entry})
  list(GET parts 0 stem)
  list(GET parts 1 number)
  execute_process(
    COMMAND ${KIVINST} -u ${number} -o ${OUT}/${stem}.c --root ${ROOT} -I ${ROOT}/examples/units
            ${ROOT}/examples/units/${stem}.c
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "kivinst ${stem}.c failed (${rc}):\n${err}")
  endif()
  if("$ENV{KIV_GENGOLDEN}" STREQUAL "1")
    file(COPY_FILE ${OUT}/${stem}_sites.json ${SITES}/${stem}_sites.json)
    message(STATUS "rewrote ${SITES}/${stem}_sites.json")
    continue()
  endif()
  file(READ ${OUT}/${stem}_sites.json got)
  file(READ ${SITES}/${stem}_sites.json want)
  if(NOT got STREQUAL want)
    string(APPEND failed " ${stem}_sites.json")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "differ from kivinst's output:${failed}; KIV_GENGOLDEN=1 regenerates them")
endif()
