# Runs the layering check (cmake/CheckLayering.cmake) as part of every build whenever a
# source of a subsystem folder changes: an include against the layering fails the build.
file(GLOB_RECURSE sfh_layered_sources CONFIGURE_DEPENDS
     ${CMAKE_SOURCE_DIR}/common/*.h
     ${CMAKE_SOURCE_DIR}/platform/*.h ${CMAKE_SOURCE_DIR}/platform/*.cpp
     ${CMAKE_SOURCE_DIR}/decode/*.h ${CMAKE_SOURCE_DIR}/decode/*.cpp
     ${CMAKE_SOURCE_DIR}/config/*.h ${CMAKE_SOURCE_DIR}/config/*.cpp
     ${CMAKE_SOURCE_DIR}/hwaccess/*.h ${CMAKE_SOURCE_DIR}/hwaccess/*.cpp
     ${CMAKE_SOURCE_DIR}/receiver/*.h ${CMAKE_SOURCE_DIR}/receiver/*.cpp
     ${CMAKE_SOURCE_DIR}/host/*.h ${CMAKE_SOURCE_DIR}/host/*.cpp
     ${CMAKE_SOURCE_DIR}/daemon/*.h ${CMAKE_SOURCE_DIR}/daemon/*.cpp)
set(sfh_layering_stamp ${CMAKE_BINARY_DIR}/layering.stamp)
add_custom_command(
  OUTPUT ${sfh_layering_stamp}
  COMMAND ${CMAKE_COMMAND} -DSOURCE_DIR=${CMAKE_SOURCE_DIR} -DSTAMP=${sfh_layering_stamp}
          -P ${CMAKE_SOURCE_DIR}/cmake/CheckLayering.cmake
  DEPENDS ${sfh_layered_sources} ${CMAKE_SOURCE_DIR}/cmake/CheckLayering.cmake
  COMMENT "Checking the layering of the subsystem folders")
add_custom_target(sfh_layering ALL DEPENDS ${sfh_layering_stamp})
