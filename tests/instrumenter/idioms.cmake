# One idiom: kivinst on DIR/NAME.c must exit 0, warn exactly where WARN says
# (a regular expression; empty: no diagnostics at all), write output that
# names no absolute path, and with each compiler of COMPILERS at -O0 and -O2
# the output must compile as C under -Wall -Wextra -pedantic -Werror wherever
# the plain unit does, and the program built from it must print what the
# plain program built by the same compiler prints, line for line. OUTPUT
# names the output file (default NAME.c).
# With each flag of REFUSE added to FLAGS (another configuration) the
# instrumented source must refuse to compile, with kivinst's message.
# With NOTE (a regular expression) kivinst is not told where the unit's
# headers are: it must say which flag the output needs, in a note matching
# NOTE, and the output must compile with that flag. Each condition record
# must belong to a decision record.
#   -DKIVINST=exe -DNAME=name -DDIR=dir -DOUT=dir -DCOMPILERS=cc;cc -DSRC=dir [-DWARN=regex] [-DFLAGS=a;b]
#   [-DREFUSE=flags] [-DNOTE=regex] [-DOUTPUT=file]
set(out ${OUT}/${NAME})
if(NOTE)
  set(out ${OUT}/${NAME}_elsewhere)
endif()
separate_arguments(FLAGS)
separate_arguments(REFUSE)
if(NOT OUTPUT)
  set(OUTPUT ${NAME}.c)
endif()
file(REMOVE_RECURSE ${out})
file(MAKE_DIRECTORY ${out})
# Its headers are beside it; the build of the output finds them with -I, or
# with the flag kivinst names.
set(headers -I ${DIR})
if(NOTE)
  set(headers)
endif()
# kivinst takes -D, -I and -U itself, any other flag after --.
set(own_flags)
set(compiler_flags)
foreach(flag ${FLAGS})
  if(flag MATCHES "^-[DIU]")
    list(APPEND own_flags ${flag})
  else()
    list(APPEND compiler_flags ${flag})
  endif()
endforeach()
execute_process(COMMAND ${KIVINST} -u 3 -o ${out}/${OUTPUT} ${headers} ${own_flags} ${NAME}.c -- ${compiler_flags}
  WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "kivinst exited ${rc}:\n${err}")
endif()
if(NOTE)
  if(NOT err MATCHES "${NOTE}" OR NOT err MATCHES "kivinst: note: [^\n]*compile the output with (-iquote [^\n]*)\n")
    message(FATAL_ERROR "expected a note matching '${NOTE}' naming the flag the output needs, got:\n${err}")
  endif()
  separate_arguments(headers UNIX_COMMAND "${CMAKE_MATCH_1}")
  string(REGEX REPLACE "kivinst: note: [^\n]*\n" "" err "${err}")
endif()
if(WARN)
  if(NOT err MATCHES "${WARN}")
    message(FATAL_ERROR "expected a diagnostic matching '${WARN}', got:\n${err}")
  endif()
elseif(err)
  message(FATAL_ERROR "unexpected diagnostics:\n${err}")
endif()
get_filename_component(stem ${OUTPUT} NAME_WE)
foreach(file ${OUTPUT} ${stem}_records.def ${stem}_sites.json)
  file(READ ${out}/${file} text)
  string(FIND "${text}" "${DIR}" at)
  if(NOT at EQUAL -1)
    message(SEND_ERROR "${file} names an absolute path")
  endif()
endforeach()

# Every condition record belongs to a decision record that lists it: the
# catalog refuses a harness whose records say otherwise.
file(STRINGS ${out}/${stem}_sites.json conditions REGEX "\"kind\": \"CC\"")
file(READ ${out}/${stem}_sites.json sites)
foreach(site ${conditions})
  string(REGEX MATCH "\"record\": \"([^\"]*)\"" _ "${site}")
  set(record ${CMAKE_MATCH_1})
  string(REGEX MATCH "\"decision\": \"([^\"]*)\"" _ "${site}")
  set(decision ${CMAKE_MATCH_1})
  if(NOT decision OR NOT sites MATCHES "\"record\": \"${decision}\", \"kind\": \"DC\"[^\n]*\"conditions\": \\[[^]]*\"${record}\"")
    message(SEND_ERROR "condition record ${record} has no decision record that lists it")
  endif()
endforeach()

file(WRITE ${out}/caller.c "#include <stdint.h>\nint32_t IXA_CALLER_ID;\n")
set(cflags -std=c11 -Wall -Wextra -pedantic -Werror ${headers} ${FLAGS})
foreach(cc ${COMPILERS})
  get_filename_component(cc_name ${cc} NAME)
  foreach(opt -O0 -O2)
    foreach(which plain instrumented)
      if(which STREQUAL plain)
        set(sources ${DIR}/${NAME}.c)
      else()
        set(sources -x c ${out}/${OUTPUT} ${out}/caller.c -I${SRC})
      endif()
      # Where kivinst ran: the flag it names is relative to there.
      set(exe ${out}/${which}_${cc_name}${opt})
      execute_process(COMMAND ${cc} ${opt} ${cflags} ${sources} -o ${exe} -lm
        WORKING_DIRECTORY ${DIR} RESULT_VARIABLE rc ERROR_VARIABLE err)
      if(NOT rc EQUAL 0)
        message(FATAL_ERROR "the ${which} program does not compile with ${cc_name} ${opt}:\n${err}")
      endif()
      execute_process(COMMAND ${exe} RESULT_VARIABLE rc OUTPUT_VARIABLE ${which}_out)
      if(NOT rc EQUAL 0 OR "${${which}_out}" STREQUAL "")
        message(FATAL_ERROR "the ${which} program (${cc_name} ${opt}) exited ${rc} with output '${${which}_out}'")
      endif()
    endforeach()
    if(NOT "${plain_out}" STREQUAL "${instrumented_out}")
      message(FATAL_ERROR "built by ${cc_name} ${opt}, the instrumented program computes another value\n"
        "  plain:        ${plain_out}  instrumented: ${instrumented_out}")
    endif()
  endforeach()
endforeach()
list(GET COMPILERS 0 CC)
foreach(other ${REFUSE})
  execute_process(COMMAND ${CC} -std=c11 -fsyntax-only -I${DIR} -I${SRC} ${FLAGS} ${other} -x c ${out}/${OUTPUT}
    RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(rc EQUAL 0 OR NOT err MATCHES "kivinst: made with")
    message(FATAL_ERROR "instrumented with '${FLAGS}', the output compiles with '${other}' (exit ${rc}):\n${err}")
  endif()
endforeach()
