qimbo_test(store store/node_test.cpp store/files_test.cpp store/import_test.cpp store/bookmark_html_test.cpp)
# Bookmark files in the shapes browsers and bookmark services write.
target_compile_definitions(test_store PRIVATE QIMBO_STORE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/store/html/")
if(NOT WIN32)
  # The command-line tool's round trips, on the built qimbo-tool.
  add_test(NAME native.store_tool
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/store/tool_roundtrip.sh $<TARGET_FILE:qimbo-tool>)
endif()
