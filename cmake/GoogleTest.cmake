# GoogleTest from Debian's source package, built for the target.
set(GTEST_SOURCE_DIR /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${GTEST_SOURCE_DIR}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${GTEST_SOURCE_DIR} (apt-get install googletest)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(${GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)
include(GoogleTest)

# CTest's time-out for one test case, and the wrapper's own limit a little below it, so that a
# case that hangs is ended by tools/wine-run, which shows what it wrote until then.
set(TAVELIN_TEST_TIMEOUT 300)
math(EXPR TAVELIN_WINE_RUN_LIMIT "${TAVELIN_TEST_TIMEOUT} - 15")

# One test program per subsystem folder; every test case becomes a CTest test run under Wine.
function(tavelin_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} testsupport GTest::gtest GTest::gtest_main GTest::gmock)
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 120
                       PROPERTIES TIMEOUT ${TAVELIN_TEST_TIMEOUT}
                                  ENVIRONMENT WINE_RUN_LIMIT=${TAVELIN_WINE_RUN_LIMIT})
endfunction()

# Tests that keep several CPUs busy for minutes (LAN scenarios with a program per host, floods of
# corrupted input): CTest counts each as that many of its parallel slots, so that a full parallel
# run does not starve them, or the tests beside them, past their time limits.
set(TAVELIN_HEAVY_PROCESSORS 2)
set(TAVELIN_FLOOD_PROCESSORS 4)

# Properties for test cases of a test program, which exist only once CTest has listed them.
function(tavelin_test_cases_property tag property value)
  set(file ${CMAKE_CURRENT_BINARY_DIR}/${tag}_test_cases.cmake)
  file(WRITE ${file} "")
  foreach(name ${ARGN})
    file(APPEND ${file} "set_tests_properties(\"${name}\" PROPERTIES ${property} ${value})\n")
  endforeach()
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${file})
endfunction()

# The heavy ones above, counted as that many parallel slots.
function(tavelin_heavy_test_cases processors)
  tavelin_test_cases_property(heavy PROCESSORS ${processors} ${ARGN})
endfunction()

# Test cases that take one named object of the machine (all tests share one Wine prefix, hence
# one namespace of names): CTest runs them one after the other.
function(tavelin_locked_test_cases lock)
  tavelin_test_cases_property(locked RESOURCE_LOCK ${lock} ${ARGN})
endfunction()
