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
#     [OUTPUT_DIRECTORY dir]        where the library and catalog go (default: the current binary folder)
#     [UNIT_SET dir])               a unit set kivinst harness has just written for this very build,
#                                   used as it is (kivinst harness's own build; nothing regenerates it)
#
# Used by this repository's own build, by the project kivinst harness writes
# into its output folder, and by an installed package. A harness compiles
# only the unit, its glue and the runtime's few files expanded from its
# tables, and links the runtime that names no unit, built once: the target
# kiv_harness_runtime of this repository's build, KivHarness::runtime of its
# package (find_package(KivHarness), also in the build tree as
# <build>/KivHarness/KivHarnessConfig.cmake).
include_guard(GLOBAL)

# The unit is C and the runtime's table expansions are C++: a project that
# enabled only one of them (project(x C)) gets the other here, where the
# recipe is included at file scope.
get_property(kiv_languages GLOBAL PROPERTY ENABLED_LANGUAGES)
foreach(kiv_language C CXX)
  if(NOT kiv_language IN_LIST kiv_languages)
    enable_language(${kiv_language})
  endif()
endforeach()

# The folder holding the runtime: src/, include/.
if(NOT KIV_HARNESS_RUNTIME_DIR AND DEFINED ENV{KIV_HARNESS_RUNTIME_DIR})
  set(KIV_HARNESS_RUNTIME_DIR $ENV{KIV_HARNESS_RUNTIME_DIR})
elseif(NOT KIV_HARNESS_RUNTIME_DIR)
  get_filename_component(KIV_HARNESS_RUNTIME_DIR "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
endif()
set(KIV_HARNESS_RUNTIME_DIR "${KIV_HARNESS_RUNTIME_DIR}" CACHE PATH "Folder with the harness runtime (src/, include/)")

function(kiv_add_harness name)
  cmake_parse_arguments(H "" "UNIT;MAP;OUTPUT_DIRECTORY;ROOT;UNIT_SET" "SOURCES;ENTRIES;INCLUDES;DEFINES" ${ARGN})
  if(NOT H_SOURCES)
    message(FATAL_ERROR "kiv_add_harness(${name}): SOURCES is required")
  endif()
  get_property(languages GLOBAL PROPERTY ENABLED_LANGUAGES)
  if(NOT "C" IN_LIST languages OR NOT "CXX" IN_LIST languages)
    message(FATAL_ERROR "kiv_add_harness(${name}): a harness is built from C and C++ (the runtime's tables); "
                        "enable both with project(<name> C CXX) or enable_language(CXX) before including the recipe")
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
  if(H_UNIT_SET)
    set(gen ${H_UNIT_SET})
  endif()

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
  foreach(f scopes.def harness_variables.def harness_ids.def enums.def goals.def records.def unit.h glue.c catalog.json)
    list(APPEND unit_files ${gen}/unit/${f})
  endforeach()
  set(glue)
  foreach(s IN LISTS sources)
    # The name without its last extension, as kivinst names the unit's files.
    get_filename_component(stem ${s} NAME_WLE)
    list(APPEND glue ${gen}/unit/${stem}_glue.c)
    list(APPEND unit_files ${gen}/unit/${stem}.c ${gen}/unit/${stem}_records.def ${gen}/unit/${stem}_sites.json
                           ${gen}/unit/${stem}_glue.c)
  endforeach()

  # The stamp is new on every run; the unit files keep their time when
  # unchanged, so only what changed recompiles. The depfile names every
  # header the sources include, so an edit of one regenerates the unit set.
  set(depfile ${CMAKE_CURRENT_BINARY_DIR}/${name}_harness.d)
  if(H_UNIT_SET)
    add_custom_target(${name}_unit)
  else()
    add_custom_command(OUTPUT ${gen}/kivinst.stamp
      BYPRODUCTS ${unit_files}
      COMMAND ${kivinst} ${args} --depfile ${depfile} ${sources}
      DEPFILE ${depfile}
      DEPENDS ${sources} ${H_UNIT} ${environment} ${kivinst_dep}
      COMMENT "kivinst harness: the unit set of lib${name}.so"
      VERBATIM)
    add_custom_target(${name}_unit DEPENDS ${gen}/kivinst.stamp)
  endif()

  _kiv_harness_runtime(runtime)
  include(${rt}/src/runtime.cmake)
  list(TRANSFORM KIV_RUNTIME_UNIT_SOURCES PREPEND ${rt}/src/)
  add_library(${name} SHARED ${KIV_RUNTIME_UNIT_SOURCES} ${gen}/unit/glue.c ${glue} ${environment})
  add_dependencies(${name} ${name}_unit)
  set_source_files_properties(${gen}/unit/glue.c ${glue} PROPERTIES GENERATED TRUE)
  # The runtime's expansions as one translation unit: they share most of
  # their headers, which are then read once.
  set_source_files_properties(${KIV_RUNTIME_UNIT_SOURCES} PROPERTIES UNITY_GROUP kiv_runtime_tables)
  set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_MODE GROUP)
  # The unit set comes ahead of the runtime's own headers.
  # The instrumented sources live in the unit set, so the quoted includes of
  # the originals are found through their folders, searched last.
  target_include_directories(${name} PRIVATE ${gen} ${rt}/src ${rt}/include ${H_INCLUDES} ${unit_includes})
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:C>:${source_iquote}>)
  target_compile_definitions(${name} PRIVATE $<$<COMPILE_LANGUAGE:C>:${H_DEFINES} ${unit_defines}>)
  target_compile_features(${name} PRIVATE cxx_std_20 c_std_11)
  target_compile_options(${name} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-exceptions -fno-rtti>)
  # Every object of the runtime: its exports are what nothing in the unit calls.
  target_link_libraries(${name} PRIVATE -Wl,--whole-archive ${runtime} -Wl,--no-whole-archive)
  set(map ${rt}/src/dllharness.map)
  target_link_options(${name} PRIVATE -Wl,--version-script=${map} -Wl,--no-undefined)
  set_target_properties(${name} PROPERTIES
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON
    LINK_DEPENDS ${map}
    LIBRARY_OUTPUT_DIRECTORY ${H_OUTPUT_DIRECTORY})

  # The catalog kivinst wrote with the unit set, naming the library just linked.
  if(TARGET kiv_catalog_stamp)
    set(stamp $<TARGET_FILE:kiv_catalog_stamp>)
    set(stamp_dep kiv_catalog_stamp)
  elseif(KIV_CATALOG_STAMP_EXECUTABLE)
    set(stamp ${KIV_CATALOG_STAMP_EXECUTABLE})
    set(stamp_dep ${KIV_CATALOG_STAMP_EXECUTABLE})
  else()
    message(FATAL_ERROR "kiv_add_harness(${name}): kiv_catalog_stamp, which names the library in its catalog, "
                        "is not known: use find_package(KivHarness) or set KIV_CATALOG_STAMP_EXECUTABLE")
  endif()
  set(catalog ${H_OUTPUT_DIRECTORY}/lib${name}.catalog.json)
  add_custom_command(OUTPUT ${catalog}
    COMMAND ${stamp} $<TARGET_FILE:${name}> ${gen}/unit/catalog.json ${catalog}
    DEPENDS ${name} ${gen}/kivinst.stamp ${stamp_dep}
    COMMENT "Writing the catalog of lib${name}.so"
    VERBATIM)
  add_custom_target(${name}_catalog ALL DEPENDS ${catalog})
endfunction()

# The runtime that names no unit, as a target to link: this build's, or the
# package's.
function(_kiv_harness_runtime out)
  if(TARGET kiv_harness_runtime)
    set(${out} kiv_harness_runtime PARENT_SCOPE)
  elseif(TARGET KivHarness::runtime)
    set(${out} KivHarness::runtime PARENT_SCOPE)
  else()
    message(FATAL_ERROR "kiv_add_harness: the prebuilt harness runtime is not known: use find_package(KivHarness) "
                        "(in a build tree of dllharness: include(<build>/KivHarness/KivHarnessConfig.cmake))")
  endif()
endfunction()

# How this repository's build makes the runtime library:
# position-independent, nothing visible beyond the library, no exceptions
# or RTTI, and no sanitizer (a harness links it whatever its own flags).
function(kiv_harness_runtime_properties target rt)
  target_include_directories(${target} PRIVATE ${rt}/src ${rt}/include)
  target_compile_features(${target} PRIVATE cxx_std_20)
  target_compile_options(${target} PRIVATE -fno-exceptions -fno-rtti)
  get_target_property(options ${target} COMPILE_OPTIONS)
  if(options)
    list(FILTER options EXCLUDE REGEX "sanitize")
    set_target_properties(${target} PROPERTIES COMPILE_OPTIONS "${options}")
  endif()
  set_target_properties(${target} PROPERTIES
    OUTPUT_NAME kivharness_runtime
    POSITION_INDEPENDENT_CODE ON
    C_VISIBILITY_PRESET hidden
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
endfunction()
