qimbo_test(store store/node_test.cpp store/files_test.cpp store/import_test.cpp store/bookmark_html_test.cpp
           store/import_chromium_test.cpp store/merge_test.cpp)
# Bookmark files in the shapes browsers and bookmark services write.
target_compile_definitions(test_store PRIVATE QIMBO_STORE_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/store/html/"
                                              QIMBO_CHROMIUM_TEST_DATA="${CMAKE_CURRENT_SOURCE_DIR}/store/data/")
if(NOT WIN32)
  # The command-line tool's round trips, on the built qimbo-tool.
  add_test(NAME native.store_tool
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/store/tool_roundtrip.sh $<TARGET_FILE:qimbo-tool>)
  add_test(NAME native.store_tool_chromium
           COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/store/tool_chromium.sh $<TARGET_FILE:qimbo-tool>
                   ${CMAKE_CURRENT_SOURCE_DIR}/store/data)
endif()
