# The layering of the subsystem folders, checked on their #include lines:
#   cmake -DSOURCE_DIR=<tree> [-DSTAMP=<file>] -P cmake/CheckLayering.cmake
# Each folder may include its own headers and those of the folders listed for it, and no
# others; the libraries' links (each folder's CMakeLists.txt) follow the same graph.
# Tools, tests and benchmarks sit on top and may include anything.

cmake_minimum_required(VERSION 3.25)

set(sfh_layers
  "common:"
  "platform:"
  "platform/sim:platform"
  "platform/win32:platform"
  "decode:common,platform"
  "config:common,platform"
  "hwaccess:common,platform"
  "receiver:decode,config,hwaccess,common,platform"
  "host:receiver,config,common,platform"
  "host/win32:host,receiver,config,common,platform,platform/win32,config/win32"
  "config/win32:config,common,platform"
  "daemon:receiver,config,decode,common,platform"
  "daemon/linux:daemon,receiver,config,decode,common,platform"
)

set(violations "")
foreach(layer IN LISTS sfh_layers)
  string(REPLACE ":" ";" parts "${layer}")
  list(GET parts 0 folder)
  list(LENGTH parts count)
  set(allowed "${folder}")
  if(count GREATER 1)
    list(GET parts 1 below)
    string(REPLACE "," ";" below "${below}")
    list(APPEND allowed ${below})
  endif()
  file(GLOB sources "${SOURCE_DIR}/${folder}/*.h" "${SOURCE_DIR}/${folder}/*.cpp")
  foreach(source IN LISTS sources)
    file(STRINGS "${source}" includes REGEX "^#include \"[^\"]+\"")
    foreach(line IN LISTS includes)
      string(REGEX REPLACE "^#include \"([^\"]+)\".*" "\\1" header "${line}")
      get_filename_component(header_folder "${header}" DIRECTORY)
      if(header_folder STREQUAL "")
        continue()  # a header beside the source, or a system header in quotes
      endif()
      list(FIND allowed "${header_folder}" found)
      if(found EQUAL -1)
        file(RELATIVE_PATH name "${SOURCE_DIR}" "${source}")
        string(APPEND violations "  ${name} includes ${header} (${folder} may use: ${allowed})\n")
      endif()
    endforeach()
  endforeach()
endforeach()

if(violations)
  message(FATAL_ERROR "Includes against the layering of the folders:\n${violations}")
endif()
if(STAMP)
  file(TOUCH "${STAMP}")
endif()
