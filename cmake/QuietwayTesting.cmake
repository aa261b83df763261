# GoogleTest suites for both targets; the Windows ones run under Wine through the
# emulator that the toolchain file names.
if(QUIETWAY_BUILD_TESTS)
  enable_testing()
  if(WIN32)
    find_package(GTest CONFIG REQUIRED)
  else()
    find_package(GTest REQUIRED)
  endif()
  include(GoogleTest)
endif()

# quietway_add_gtest(<name> SOURCES <files> [LIBS <libs>] [LABELS <labels>]
#                    [LOCKS <resource locks>] [PROPERTIES <single-valued test properties>])
# Builds a test program and registers each of its tests with ctest. Discovery happens
# when the tests run, which keeps Wine out of the build.
function(quietway_add_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;LABELS;LOCKS;PROPERTIES" ${ARGN})
  if("LABELS" IN_LIST T_PROPERTIES OR "RESOURCE_LOCK" IN_LIST T_PROPERTIES)
    message(FATAL_ERROR "${name}: give labels and locks as LABELS and LOCKS, not PROPERTIES")
  endif()
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} quietway_test_support GTest::gmock GTest::gtest
                                        GTest::gtest_main Threads::Threads)
  set(labels unit ${T_LABELS})
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    DISCOVERY_TIMEOUT 120
    PROPERTIES TIMEOUT 300 ${T_PROPERTIES})
  # Test discovery cannot carry a list-valued property (the labels or locks would be split
  # into property/value pairs and shift or drop every one after the first), so labels and
  # locks are set by a file that ctest reads after the discovered tests.
  set(lock_line)
  if(T_LOCKS)
    set(lock_line "  set_tests_properties(\"\${test}\" PROPERTIES RESOURCE_LOCK \"${T_LOCKS}\")\n")
  endif()
  set(label_file ${CMAKE_CURRENT_BINARY_DIR}/${name}_labels_and_locks.cmake)
  file(WRITE ${label_file}
    "foreach(test IN LISTS ${name}_TESTS)\n"
    "  set_tests_properties(\"\${test}\" PROPERTIES LABELS \"${labels}\")\n"
    "${lock_line}"
    "endforeach()\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES ${label_file})
endfunction()
