# kiv_add_harness: the one recipe that turns a C unit into a harness library
# lib<NAME>.so with its catalog lib<NAME>.catalog.json. kivinst harness writes
# the unit set at build time, so an edit of the unit rebuilds its harness.
#
#   kiv_add_harness(NAME
#     SOURCES a.c b.c ...           the unit's C sources
#     [ENTRIES f g ...]             entry functions (default: inferred)
#     [UNIT unit.json]              the unit file
#     [INCLUDES dir ...]            include folders of the unit
#     [DEFINES NAME[=V] ...]        macros of the unit
#     [MAP ids.kivmap.json]         the ID map (default: beside UNIT, else in the build folder)
#     [ROOT dir]                    positions in reports are relative to it (default: the source folder)
#     [OUTPUT_DIRECTORY dir])       where the library and catalog go (default: the current binary folder)
#
# Used by this repository's own build, by the project kivinst harness writes
# into its output folder, and by an installed package.
include_guard(GLOBAL)

# The folder holding the runtime: src/, include/, tools/catalog_gen/.
if(NOT KIV_HARNESS_RUNTIME_DIR AND DEFINED ENV{KIV_HARNESS_RUNTIME_DIR})
  set(KIV_HARNESS_RUNTIME_DIR $ENV{KIV_HARNESS_RUNTIME_DIR})
elseif(NOT KIV_HARNESS_RUNTIME_DIR)
  get_filename_component(KIV_HARNESS_RUNTIME_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()
set(KIV_HARNESS_RUNTIME_DIR "${KIV_HARNESS_RUNTIME_DIR}" CACHE PATH "Folder with the harness runtime (src/, include/)")

function(kiv_add_harness name)
  cmake_parse_arguments(H "" "UNIT;MAP;OUTPUT_DIRECTORY;ROOT" "SOURCES;ENTRIES;INCLUDES;DEFINES" ${ARGN})
  if(NOT H_SOURCES)
    message(FATAL_ERROR "kiv_add_harness(${name}): SOURCES is required")
  endif()
  set(rt ${KIV_HARNESS_RUNTIME_DIR})
  if(KIVINST_EXECUTABLE)
    set(kivinst ${KIVINST_EXECUTABLE})
    set(kivinst_dep ${KIVINST_EXECUTABLE})
  elseif(TARGET kivinst)
    set(kivinst $<TARGET_FILE:kivinst>)
    set(kivinst_dep kivinst)
  else()
    find_program(KIVINST_EXECUTABLE kivinst REQUIRED)
    set(kivinst ${KIVINST_EXECUTABLE})
    set(kivinst_dep ${KIVINST_EXECUTABLE})
  endif()
  if(NOT H_OUTPUT_DIRECTORY)
    set(H_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(NOT H_ROOT)
    set(H_ROOT ${CMAKE_CURRENT_SOURCE_DIR})
  endif()
  set(gen ${CMAKE_CURRENT_BINARY_DIR}/${name}_harness)

  set(sources)
  set(source_dirs)
  foreach(s IN LISTS H_SOURCES)
    get_filename_component(s ${s} ABSOLUTE)
    list(APPEND sources ${s})
    get_filename_component(d ${s} DIRECTORY)
    list(APPEND source_dirs ${d})
  endforeach()
  list(REMOVE_DUPLICATES source_dirs)
  set(source_iquote)
  foreach(d IN LISTS source_dirs)
    list(APPEND source_iquote -iquote ${d})
  endforeach()

  # The environment sources the unit file names are compiled as they are.
  set(environment)
  set(unit_args)
  set(unit_includes)
  set(unit_defines)
  if(H_UNIT)
    get_filename_component(H_UNIT ${H_UNIT} ABSOLUTE)
    get_filename_component(unit_dir ${H_UNIT} DIRECTORY)
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${H_UNIT})
    file(READ ${H_UNIT} unit_json)
    string(JSON count ERROR_VARIABLE no_env LENGTH "${unit_json}" environment sources)
    if(NOT no_env AND count GREATER 0)
      math(EXPR last "${count} - 1")
      foreach(i RANGE ${last})
        string(JSON e GET "${unit_json}" environment sources ${i})
        get_filename_component(e ${e} ABSOLUTE BASE_DIR ${unit_dir})
        list(APPEND environment ${e})
      endforeach()
    endif()
    foreach(key includes defines)
      string(JSON count ERROR_VARIABLE missing LENGTH "${unit_json}" ${key})
      if(NOT missing AND count GREATER 0)
        math(EXPR last "${count} - 1")
        foreach(i RANGE ${last})
          string(JSON v GET "${unit_json}" ${key} ${i})
          if(key STREQUAL "includes")
            get_filename_component(v ${v} ABSOLUTE BASE_DIR ${unit_dir})
            list(APPEND unit_includes ${v})
          else()
            list(APPEND unit_defines ${v})
          endif()
        endforeach()
      endif()
    endforeach()
    set(unit_args --unit ${H_UNIT})
  endif()

  set(args harness --no-build -o ${gen} --name ${name} --root ${H_ROOT} ${unit_args})
  if(H_MAP)
    get_filename_component(H_MAP ${H_MAP} ABSOLUTE)
    list(APPEND args --map ${H_MAP})
  endif()
  foreach(i IN LISTS H_INCLUDES)
    get_filename_component(i ${i} ABSOLUTE)
    list(APPEND args -I ${i})
  endforeach()
  foreach(d IN LISTS H_DEFINES)
    list(APPEND args -D ${d})
  endforeach()
  foreach(e IN LISTS H_ENTRIES)
    list(APPEND args --entry ${e})
  endforeach()

  set(unit_files)
  foreach(f scopes.def harness_variables.def harness_ids.def enums.def goals.def records.def unit.h glue.c)
    list(APPEND unit_files ${gen}/unit/${f})
  endforeach()
  set(glue)
  set(sites)
  foreach(s IN LISTS sources)
    # The name without its last extension, as kivinst names the unit's files.
    get_filename_component(stem ${s} NAME_WLE)
    list(APPEND glue ${gen}/unit/${stem}_glue.c)
    list(APPEND sites ${gen}/unit/${stem}_sites.json)
    list(APPEND unit_files ${gen}/unit/${stem}.c ${gen}/unit/${stem}_records.def ${gen}/unit/${stem}_sites.json
                           ${gen}/unit/${stem}_glue.c)
  endforeach()

  # The stamp is new on every run; the unit files keep their time when
  # unchanged, so only what changed recompiles. The depfile names every
  # header the sources include, so an edit of one regenerates the unit set.
  set(depfile ${CMAKE_CURRENT_BINARY_DIR}/${name}_harness.d)
  add_custom_command(OUTPUT ${gen}/kivinst.stamp
    BYPRODUCTS ${unit_files}
    COMMAND ${kivinst} ${args} --depfile ${depfile} ${sources}
    DEPFILE ${depfile}
    DEPENDS ${sources} ${H_UNIT} ${environment} ${kivinst_dep}
    COMMENT "kivinst harness: the unit set of lib${name}.so"
    VERBATIM)
  add_custom_target(${name}_unit DEPENDS ${gen}/kivinst.stamp)

  file(GLOB runtime CONFIGURE_DEPENDS
    ${rt}/src/harness/*.cpp ${rt}/src/frame/*.cpp ${rt}/src/instrumentation/*.cpp ${rt}/src/platform/*.cpp)
  add_library(${name} SHARED ${runtime} ${gen}/unit/glue.c ${glue} ${environment})
  add_dependencies(${name} ${name}_unit)
  set_source_files_properties(${gen}/unit/glue.c ${glue} PROPERTIES GENERATED TRUE)
  # The unit set comes ahead of the runtime's own headers.
  # The instrumented sources live in the unit set, so the quoted includes of
  # the originals are found through their folders, searched last.
  target_include_directories(${name} PRIVATE ${gen} ${rt}/src ${rt}/include ${H_INCLUDES} ${unit_includes})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:C>:${source_iquote}>)
  target_compile_definitions(${name} PRIVATE $<$<COMPILE_LANGUAGE:C>:${H_DEFINES} ${unit_defines}>)
  target_compile_features(${name} PRIVATE cxx_std_20 c_std_11)
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  set(map ${rt}/src/dllharness.map)
  target_link_options(${name} PRIVATE -Wl,--version-script=${map} -Wl,--no-undefined)
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${map}
    LIBRARY_OUTPUT_DIRECTORY ${H_OUTPUT_DIRECTORY})

  # The catalog: the runtime's generator compiled against this unit's tables.
  set(cg ${rt}/tools/catalog_gen)
  if(EXISTS ${cg}/catalog_gen.cpp)
    if(COMMAND kiv_add_catalog_gen)
      kiv_add_catalog_gen(${name}_catalog_gen ${gen})
    else()
      find_package(nlohmann_json REQUIRED)
      find_package(PkgConfig REQUIRED)
      pkg_check_modules(LIBELF REQUIRED IMPORTED_TARGET libelf)
      file(GLOB cg_sources ${cg}/*.cpp ${rt}/host/identity/identity.cpp)
      add_executable(${name}_catalog_gen ${cg_sources})
      target_include_directories(${name}_catalog_gen PRIVATE ${gen} ${rt}/src ${rt}/host ${rt}/host/identity)
      target_compile_features(${name}_catalog_gen PRIVATE cxx_std_20)
      target_link_libraries(${name}_catalog_gen PRIVATE nlohmann_json::nlohmann_json PkgConfig::LIBELF)
    endif()
    add_dependencies(${name}_catalog_gen ${name}_unit)
    set(catalog ${H_OUTPUT_DIRECTORY}/lib${name}.catalog.json)
    add_custom_command(OUTPUT ${catalog}
      COMMAND ${name}_catalog_gen --library $<TARGET_FILE:${name}> ${catalog} ${sites}
      DEPENDS ${name}_catalog_gen ${name} ${gen}/kivinst.stamp
      COMMENT "Writing the catalog of lib${name}.so"
      VERBATIM)
    add_custom_target(${name}_catalog ALL DEPENDS ${catalog})
  endif()
endfunction()
