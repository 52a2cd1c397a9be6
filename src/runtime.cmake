# The harness runtime's sources, relative to this folder, in two lists: what
# names no unit, built once into the static library every harness links, and
# what is expanded from a unit's tables (-I ROOT ahead of this folder),
# compiled with each unit.
set(KIV_RUNTIME_COMMON_SOURCES
  harness/harness_main.cpp harness/harness_all.cpp harness/mxx_hashtable.cpp
  frame/dllharness.cpp frame/kiv_user_defined_init_function.cpp
  instrumentation/CodeAnnotation.cpp
  platform/platform_posix.cpp)
set(KIV_RUNTIME_UNIT_SOURCES
  harness/harness_1.cpp
  frame/frames.cpp frame/kivexception.cpp
  instrumentation/goal_harness.cpp)
