# Test programs are built for both targets. On Windows they run under Wine in
# a private prefix of the build folder, as the cross-compiling emulator.
if(WIN32)
  set(WINE_PREFIX ${CMAKE_BINARY_DIR}/wineprefix)
  set(WINE_RUN ${PROJECT_SOURCE_DIR}/scripts/wine-run)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_RUN} ${WINE_PREFIX})

  set(gtest_force_shared_crt OFF CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
  foreach(lib gtest gtest_main gmock)
    target_link_options(${lib} INTERFACE -static)
  endforeach()
else()
  find_package(GTest REQUIRED)
endif()

# A Wine prefix is made once before the Windows tests and its wineserver
# stopped after them.
function(project_wine_fixture)
  if(WIN32 AND NOT TEST wine.prefix)
    add_test(NAME wine.prefix COMMAND ${WINE_RUN} ${WINE_PREFIX} --init)
    set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine)
    add_test(NAME wine.stop COMMAND ${WINE_RUN} ${WINE_PREFIX} --stop)
    set_tests_properties(wine.stop PROPERTIES FIXTURES_CLEANUP wine)
  endif()
endfunction()

# The main of every test program.
add_library(test_support STATIC ${PROJECT_SOURCE_DIR}/tests/support/TestMain.cpp)
target_link_libraries(test_support PUBLIC GTest::gtest PRIVATE project_options)
target_include_directories(test_support PUBLIC ${PROJECT_SOURCE_DIR}/tests/support)

# add_project_test(<name> SOURCES ... [LIBRARIES ...]) builds one GoogleTest
# program and registers it with CTest; under Wine when the target is Windows.
function(add_project_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBRARIES" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE project_options test_support ${ARG_LIBRARIES})
  if(NOT WIN32)
    target_link_libraries(${name} PRIVATE platform)
  endif()
  add_test(NAME ${name} COMMAND ${name})
  if(WIN32)
    project_wine_fixture()
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED wine)
  endif()
endfunction()
