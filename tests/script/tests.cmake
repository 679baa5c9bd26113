qimbo_test(script script/script_file_test.cpp)

if(NOT WIN32 AND QIMBO_WIN_BUILD_DIR)
  add_test(NAME window.movrec
           COMMAND ${CMAKE_SOURCE_DIR}/tests/win/gui-run.sh ${QIMBO_WIN_BUILD_DIR}/tests/win/test_movrec.exe)
  set_tests_properties(window.movrec PROPERTIES TIMEOUT 240 RUN_SERIAL TRUE)
endif()
