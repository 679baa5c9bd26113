qimbo_test(script script/script_file_test.cpp)

if(NOT WIN32 AND QIMBO_WIN_BUILD_DIR)
  add_test(NAME window.movrec
           COMMAND ${CMAKE_SOURCE_DIR}/tests/win/gui-run.sh ${QIMBO_WIN_BUILD_DIR}/tests/win/test_movrec.exe)
  set_tests_properties(window.movrec PROPERTIES TIMEOUT 240 RESOURCE_LOCK windows)
endif()

# The recorder through the running program: record on an item, replay on a double click.
if(NOT WIN32 AND QIMBO_WIN_BUILD_DIR)
  add_test(NAME window.recorder
           COMMAND ${CMAKE_SOURCE_DIR}/tests/win/recorder-test.sh ${QIMBO_WIN_BUILD_DIR} $<TARGET_FILE:qimbo-tool>
                   ${CMAKE_BINARY_DIR}/screens)
  set_tests_properties(window.recorder PROPERTIES TIMEOUT 300 RESOURCE_LOCK windows)
endif()
