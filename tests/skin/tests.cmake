qimbo_test(skin skin/hotkey_test.cpp skin/config_test.cpp skin/skin_test.cpp skin/skin_json_test.cpp skin/font_test.cpp
           skin/save_crash_test.cpp)
# The checked-in databases that both builds must read and write byte for byte.
target_compile_definitions(test_skin PRIVATE QIMBO_SKIN_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/skin/data/")
if(NOT WIN32)
  add_test(NAME native.skin_tool
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/skin/tool_roundtrip.sh $<TARGET_FILE:qimbo-tool>
                   ${CMAKE_CURRENT_SOURCE_DIR}/skin/data)
endif()
