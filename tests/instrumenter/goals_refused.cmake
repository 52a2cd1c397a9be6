# kivinst --goals must refuse inconsistent tables: exit 2, a message naming
# the fault, nothing on standard output. One row per fault.
#   -DKIVINST=exe -DA=table of unit 16 -DB=table of unit 18 -DOUT=dir
file(MAKE_DIRECTORY ${OUT})
file(COPY_FILE ${B} ${OUT}/copy_records.def)
# The same unit number for a second unit: its records carry TU18 too.
file(READ ${A} a)
string(REPLACE "TU16" "TU18" a "${a}")
file(WRITE ${OUT}/renumbered_records.def "${a}")
# fault|arguments, comma-separated
set(rows
  "given twice|${B},${B}"
  "the same records as .* \\(one table given twice\\)|${B},${OUT}/copy_records.def"
  "unit 18 \\(-u 18\\) is also the unit of|${B},${OUT}/renumbered_records.def"
  "--skip-function nosuch: no record|--skip-function,nosuch,${A},${B}")
foreach(row ${rows})
  string(FIND "${row}" "|" bar)
  string(SUBSTRING "${row}" 0 ${bar} want)
  math(EXPR from "${bar} + 1")
  string(SUBSTRING "${row}" ${from} -1 args)
  string(REPLACE "," ";" args "${args}")
  execute_process(COMMAND ${KIVINST} --goals ${args} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 2 OR NOT out STREQUAL "" OR NOT err MATCHES "${want}")
    message(SEND_ERROR "kivinst --goals ${args}: exit ${rc}, expected 2 and '${want}'; said: ${err}")
  endif()
endforeach()
