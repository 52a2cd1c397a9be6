# kivinst must refuse bad input (inconsistent tables for --goals, numbers it
# does not take): exit 2, a message naming the fault, nothing on standard
# output and no file written. One row per fault.
#   -DKIVINST=exe -DA=table of unit 16 -DB=table of unit 18 -DSOURCE=a unit's .c -DOUT=dir -DVERSION=project version
file(MAKE_DIRECTORY ${OUT})
file(COPY_FILE ${B} ${OUT}/copy_records.def)
# The same unit number for a second unit: its records carry TU18 too.
file(READ ${A} a)
string(REPLACE "TU16" "TU18" a "${a}")
file(WRITE ${OUT}/renumbered_records.def "${a}")
# A header of the unit's name beside where the output goes, which the output
# would include in place of the unit's own.
get_filename_component(stem ${SOURCE} NAME_WE)
file(WRITE ${OUT}/${stem}.h "#error not the unit's header\n")
# A unit of its own to overwrite: no output may be one of kivinst's inputs,
# the source or a header the parse read, followed through a link too.
get_filename_component(units ${SOURCE} DIRECTORY)
file(COPY ${units}/ DESTINATION ${OUT}/own)
set(own ${OUT}/own/${stem}.c)
file(CREATE_LINK ${OUT}/own/${stem}.h ${OUT}/own/link.h SYMBOLIC)
file(GLOB_RECURSE own_files ${OUT}/own/*)
set(own_before)
foreach(f IN LISTS own_files)
  file(SHA256 ${f} h)
  list(APPEND own_before "${f}=${h}")
endforeach()
# fault|arguments, comma-separated
set(written ${OUT}/written.c)
set(rows
  "given twice|--goals,${B},${B}"
  "the same records as .* \\(one table given twice\\)|--goals,${B},${OUT}/copy_records.def"
  "unit 18 \\(-u 18\\) is also the unit of|--goals,${B},${OUT}/renumbered_records.def"
  "--skip-function nosuch: no record|--goals,--skip-function,nosuch,${A},${B}"
  "--unit: expected a whole number from 1 to 99999, got 'x'|-u,x,-o,${written},${SOURCE}"
  "--first: expected a whole number from 1 to 1000000000, got '0'|--goals,--first,0,${A}"
  "no such folder ${OUT}/nosuch|-u,18,-o,${OUT}/nosuch/written.c,${SOURCE}"
  "${stem}.c:[0-9]+:10: the output would include .*/${stem}.h in place of|-u,18,-o,${written},${SOURCE}"
  "-o ${own} is ${own}, which kivinst reads: an output never replaces an input|-u,18,-o,${own},${own}"
  "--depfile ${own} is ${own}, which kivinst reads|-u,18,-o,${written},--depfile,${own},${own}"
  "-r ${OUT}/own/link.h is ${OUT}/own/${stem}.h, which kivinst reads|-u,18,-o,${written},-r,${OUT}/own/link.h,${own}"
  "-o ${written} and -r ${written} are one file|-u,18,-o,${written},-r,${written},${own}"
  "--justify-out ${B} is ${B}, which kivinst reads|--goals,--justify-out,${B},${B}")
foreach(row ${rows})
  string(FIND "${row}" "|" bar)
  string(SUBSTRING "${row}" 0 ${bar} want)
  math(EXPR from "${bar} + 1")
  string(SUBSTRING "${row}" ${from} -1 args)
  string(REPLACE "," ";" args "${args}")
  execute_process(COMMAND ${KIVINST} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 2 OR NOT out STREQUAL "" OR NOT err MATCHES "${want}" OR EXISTS ${written})
    message(SEND_ERROR "kivinst ${args}: exit ${rc}, expected 2 and '${want}'; said: ${err}")
  endif()
endforeach()
# --version answers before any option is required, for both commands.
foreach(args "--version" "harness;--version")
  execute_process(COMMAND ${KIVINST} ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "kivinst ${VERSION}\n")
    message(SEND_ERROR "kivinst ${args}: exit ${rc}, expected 0 and 'kivinst ${VERSION}'; said: ${out}${err}")
  endif()
endforeach()
set(own_after)
foreach(f IN LISTS own_files)
  file(SHA256 ${f} h)
  list(APPEND own_after "${f}=${h}")
endforeach()
if(NOT own_after STREQUAL own_before)
  message(SEND_ERROR "kivinst overwrote one of its inputs")
endif()
