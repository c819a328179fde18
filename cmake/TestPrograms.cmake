include(GoogleTest)

# Sanitizer builds run several times slower; time limits in tests scale.
if(KELVORAN_SANITIZE)
  set(KELVORAN_TEST_SLOWDOWN 3)
else()
  set(KELVORAN_TEST_SLOWDOWN 1)
endif()

# kelvoran_add_test(name [GUI] [TIMEOUT s] [LABELS ...] SOURCES ...): one
# GoogleTest program, named test_<folder>_<subject>. GUI tests get a
# QApplication (offscreen unless QT_QPA_PLATFORM says otherwise).
function(kelvoran_add_test name)
  cmake_parse_arguments(ARG "GUI" "TIMEOUT" "SOURCES;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  set_target_properties(${name} PROPERTIES AUTOMOC ON)
  if(ARG_GUI)
    target_link_libraries(${name} PRIVATE kelvoran_test_gui)
  else()
    target_link_libraries(${name} PRIVATE kelvoran_test_core GTest::gtest_main)
  endif()
  target_compile_definitions(${name} PRIVATE KELVORAN_SLOWDOWN=${KELVORAN_TEST_SLOWDOWN})
  kelvoran_set_warnings(${name})
  kelvoran_guard_sends(${name})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  # Tests against the test host judge real round trips and CPU shares: they
  # run alone, so that no other test takes the cores from the host or the
  # program they measure.
  if("netns" IN_LIST ARG_LABELS)
    set(serial TRUE)
  else()
    set(serial FALSE)
  endif()
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT ${ARG_TIMEOUT}
               LABELS "${ARG_LABELS}" RUN_SERIAL ${serial})
endfunction()

# kelvoran_add_script_test(name SCRIPT path [ARGS ...]): a test that a bash
# script runs, skipped when the script exits with 77, which it does, saying
# why, where the machine lacks a part of what it needs.
function(kelvoran_add_script_test name)
  cmake_parse_arguments(ARG "" "SCRIPT" "ARGS" ${ARGN})
  add_test(NAME ${name} COMMAND bash ${ARG_SCRIPT} ${ARG_ARGS})
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120
    ENVIRONMENT "KELVORAN_SLOWDOWN=${KELVORAN_TEST_SLOWDOWN}")
endfunction()
