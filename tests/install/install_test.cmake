# Stages the install of BUILD under WORK/stage with DESTDIR and prefix /usr,
# copies the project UNIT (outside the tree) to WORK/project, builds its
# harness with the staged kivinst and package config only, and checks that
# the staged kivrun reads it. Nothing of the source tree is on any path.
file(REMOVE_RECURSE ${WORK})
set(stage ${WORK}/stage)
set(prefix ${stage}/usr)

include(${CMAKE_CURRENT_LIST_DIR}/../run_checked.cmake)

set(ENV{DESTDIR} ${stage})
run("staged install" ${CMAKE_COMMAND} --install ${BUILD} --prefix /usr)
unset(ENV{DESTDIR})
foreach(f bin/kivinst bin/kivrun lib/cmake/KivHarness/KivHarnessConfig.cmake lib/cmake/KivHarness/KivHarness.cmake
          share/dllharness/src/dllharness.map share/dllharness/include/dllharness.h
          lib/libkivharness_runtime.a lib/cmake/KivHarness/KivHarnessTargets.cmake)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the staged install lacks /usr/${f}")
  endif()
endforeach()

file(COPY ${UNIT}/ DESTINATION ${WORK}/project)
set(ENV{PATH} "${prefix}/bin:$ENV{PATH}")
set(launcher)
if(CCACHE)
  set(launcher -DCMAKE_C_COMPILER_LAUNCHER=${CCACHE} -DCMAKE_CXX_COMPILER_LAUNCHER=${CCACHE})
endif()
run("configure" ${CMAKE_COMMAND} -S ${WORK}/project -B ${WORK}/project/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_TYPE=Release ${launcher})
file(READ ${WORK}/project/build/CMakeCache.txt cache)
string(REGEX MATCH "KivHarness_DIR:PATH=([^\n]*)" _ "${cache}")
if(NOT CMAKE_MATCH_1 STREQUAL "${prefix}/lib/cmake/KivHarness")
  message(FATAL_ERROR "the project found the package config at '${CMAKE_MATCH_1}', not in the staged tree")
endif()
string(REGEX MATCH "KIV_HARNESS_RUNTIME_DIR:PATH=([^\n]*)" _ "${cache}")
if(NOT CMAKE_MATCH_1 MATCHES "^${prefix}/")
  message(FATAL_ERROR "the runtime sources come from '${CMAKE_MATCH_1}', not from the staged tree")
endif()
run("build" ${CMAKE_COMMAND} --build ${WORK}/project/build -j2)

run("kivrun info" ${prefix}/bin/kivrun info ${WORK}/project/build/libblinker.so)
foreach(want "blinker_step.lever" "blinker_step.period  uint8_t" "blinker_step.Lamp_Set.on" "blinker_step.phase")
  string(FIND "${out}" "${want}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "kivrun info does not list '${want}':\n${out}")
  endif()
endforeach()
