# safehold_add_gtest(NAME SOURCES src... [LIBS lib...] [WRAPPER command...])
# Builds a GoogleTest program and registers it with CTest through tests/with-buses, which gives
# it a private session bus, a private system bus and a fresh HOME; WRAPPER runs inside that, in
# front of the program (tests/with-xvfb for a real X server).
function(safehold_add_gtest name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS;WRAPPER" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} safehold-test-harness GTest::gtest_main
    GTest::gmock)
  add_test(NAME ${name} COMMAND ${PROJECT_SOURCE_DIR}/tests/with-buses ${ARG_WRAPPER}
    $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES
    ENVIRONMENT "LSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0;ASAN_OPTIONS=detect_leaks=1:abort_on_error=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;TSAN_OPTIONS=suppressions=${PROJECT_SOURCE_DIR}/tests/tsan.supp:second_deadlock_stack=1:die_after_fork=0;G_SLICE=always-malloc"
    TIMEOUT 600)
endfunction()
