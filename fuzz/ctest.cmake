# From the native build: the fuzz targets of build/fuzz for a short fixed
# number of runs each (fuzz.NAME), and the native suites of build/asan under
# AddressSanitizer and UndefinedBehaviorSanitizer (asan.suites).
if(QIMBO_FUZZ_BUILD_DIR)
  include(${CMAKE_SOURCE_DIR}/fuzz/targets.cmake)
  foreach(name ${QIMBO_FUZZ_TARGETS})
    add_test(NAME fuzz.${name}
             COMMAND ${CMAKE_SOURCE_DIR}/fuzz/run.sh check ${QIMBO_FUZZ_BUILD_DIR} ${name})
    set_tests_properties(fuzz.${name} PROPERTIES TIMEOUT 120)
  endforeach()
endif()
if(QIMBO_ASAN_BUILD_DIR)
  add_test(NAME asan.suites
           COMMAND ${CMAKE_COMMAND} -E env ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
                   UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
                   ${CMAKE_CTEST_COMMAND} --test-dir ${QIMBO_ASAN_BUILD_DIR} --output-on-failure -j2 -R "^(native|e2e)\\.")
  # Its suites use the same loopback addresses and ports as the native ones:
  # it runs alone, and its own suites two at a time as the native ctest does.
  set_tests_properties(asan.suites PROPERTIES TIMEOUT 900 RUN_SERIAL TRUE)
endif()
