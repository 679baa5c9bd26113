qimbo_test(skin skin/hotkey_test.cpp skin/config_test.cpp skin/skin_test.cpp skin/skin_json_test.cpp)
# The checked-in databases that both builds must read and write byte for byte.
target_compile_definitions(test_skin PRIVATE QIMBO_SKIN_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/skin/data/")
