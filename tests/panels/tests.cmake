qimbo_test(panels
  panels/geometry_test.cpp
  panels/text_test.cpp
  panels/open_item_test.cpp
  panels/site_icon_test.cpp
  panels/logic_test.cpp
  panels/circles_test.cpp
  panels/capture_test.cpp
  panels/dropped_nodes_test.cpp
  panels/item_edit_test.cpp
  panels/find_test.cpp
)

# The panels' windows under Wine, driven through window messages.
if(NOT WIN32 AND QIMBO_WIN_BUILD_DIR)
  add_test(NAME window.panels
           COMMAND ${CMAKE_SOURCE_DIR}/tests/win/gui-run.sh
                   ${QIMBO_WIN_BUILD_DIR}/tests/win/panels_driver.exe ${QIMBO_WIN_BUILD_DIR}/Qimbo.exe)
  # It changes the Wine profile's desktop for a while: nothing else runs beside it.
  set_tests_properties(window.panels PROPERTIES TIMEOUT 240 RESOURCE_LOCK windows)
  # The capture with stand-in browsers, the real hotkey and two local web sites.
  add_test(NAME window.capture
           COMMAND ${CMAKE_SOURCE_DIR}/tests/win/capture-test.sh ${QIMBO_WIN_BUILD_DIR} $<TARGET_FILE:qimbo-tool>
                   ${CMAKE_BINARY_DIR}/screens)
  set_tests_properties(window.capture PROPERTIES TIMEOUT 300 RESOURCE_LOCK windows)
  # The item editor from the item menu, a restart, and the file read by qimbo-tool.
  add_test(NAME window.editor
           COMMAND ${CMAKE_SOURCE_DIR}/tests/win/edit-test.sh ${QIMBO_WIN_BUILD_DIR} $<TARGET_FILE:qimbo-tool>
                   ${CMAKE_BINARY_DIR}/screens)
  set_tests_properties(window.editor PROPERTIES TIMEOUT 300 RESOURCE_LOCK windows)
endif()
