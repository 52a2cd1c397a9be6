# kivrun's folders form one order (LAYERS, lowest first): a file may include
# headers of its own folder and of the folders before it, never after. The
# root's error.h is below everything; kivrun.h and main.cpp are above it.
# Every folder with sources must be in the order, or its files go unchecked
# (and unbuilt).
#   cmake -DHOST=<host folder> "-DLAYERS=identity;catalog;..." -P layers.cmake
file(GLOB_RECURSE files RELATIVE ${HOST} ${HOST}/*.h ${HOST}/*.cpp)
set(problems "")
foreach(f ${files})
  if(NOT f MATCHES "/")
    continue()  # error.h, kivrun.h, main.cpp
  endif()
  string(REGEX REPLACE "/.*" "" folder ${f})
  list(FIND LAYERS ${folder} rank)
  if(rank LESS 0)
    string(APPEND problems "\n  ${f}: its folder '${folder}' is not in the order")
    continue()
  endif()
  file(STRINGS ${HOST}/${f} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"")
  foreach(line ${lines})
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" inc "${line}")
    if(inc STREQUAL "kivrun.h")
      string(APPEND problems "\n  ${f}: includes kivrun.h, which is above every folder")
      continue()
    endif()
    if(NOT inc MATCHES "/")
      continue()  # error.h, or a header of the runtime or tools
    endif()
    string(REGEX REPLACE "/.*" "" to ${inc})
    list(FIND LAYERS ${to} to_rank)
    if(to_rank GREATER rank)
      string(APPEND problems "\n  ${f}: includes \"${inc}\"; ${to} is above ${folder}")
    endif()
  endforeach()
endforeach()
if(problems)
  message(FATAL_ERROR "includes run back up kivrun's folders (${LAYERS}):${problems}")
endif()
