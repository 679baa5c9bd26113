qimbo_test(skin skin/hotkey_test.cpp skin/config_test.cpp skin/skin_test.cpp skin/skin_json_test.cpp skin/font_test.cpp
           skin/save_crash_test.cpp skin/skin_edit_test.cpp)
# The checked-in databases that both builds must read and write byte for byte.
target_compile_definitions(test_skin PRIVATE QIMBO_SKIN_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/skin/data/")
if(NOT WIN32)
  add_test(NAME native.skin_tool
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/skin/tool_roundtrip.sh $<TARGET_FILE:qimbo-tool>
                   ${CMAKE_CURRENT_SOURCE_DIR}/skin/data)
endif()
# The settings window from outside: real keys into the hotkey edit, the hotkey
# with a stand-in browser, a named skin, and a second start.
if(NOT WIN32 AND QIMBO_WIN_BUILD_DIR)
  add_test(NAME window.settings
           COMMAND ${CMAKE_SOURCE_DIR}/tests/win/settings-test.sh ${QIMBO_WIN_BUILD_DIR} ${CMAKE_BINARY_DIR}/screens)
  set_tests_properties(window.settings PROPERTIES TIMEOUT 300 RESOURCE_LOCK windows)
endif()
