# Test helpers shared by every subsystem's tests.
#
#   sfh_add_test(NAME <name> SOURCES <files...> [LIBS <targets...>])
#
# Natively the test links GoogleTest from the system and the simulated platform; in the
# Windows builds it links GoogleTest built from Debian's source package and runs under
# Wine through CMAKE_CROSSCOMPILING_EMULATOR (label "wine").

if(WIN32)
  set(gtest_disable_pthreads ON CACHE BOOL "" FORCE)
  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  set(SFH_GTEST_MAIN gtest_main)
else()
  find_package(GTest REQUIRED)
  set(SFH_GTEST_MAIN GTest::gtest_main)
  include(GoogleTest)
endif()

function(sfh_add_test)
  cmake_parse_arguments(T "" "NAME" "SOURCES;LIBS" ${ARGN})
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} ${SFH_GTEST_MAIN})
  if(WIN32)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME})
    set_tests_properties(${T_NAME} PROPERTIES LABELS wine TIMEOUT 300)
  else()
    gtest_discover_tests(${T_NAME} DISCOVERY_TIMEOUT 30)
  endif()
endfunction()
