# The capture's window test: stand-in browsers under the names of the real
# browsers' programs, and the driver that works the program with them.
foreach(fake iexplore chrome firefox)
  add_executable(fake_${fake} fake_browser.cpp)
  set_target_properties(fake_${fake} PROPERTIES OUTPUT_NAME ${fake}
                        RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/fakes)
  target_compile_options(fake_${fake} PRIVATE ${QIMBO_FLAGS})
  target_link_libraries(fake_${fake} PRIVATE comctl32 user32 gdi32)
  target_link_options(fake_${fake} PRIVATE -municode)
endforeach()
qimbo_driver(capture_driver capture_driver.cpp)
add_dependencies(capture_driver fake_iexplore fake_chrome fake_firefox)

# The settings window from outside, with the stand-in Internet Explorer.
qimbo_driver(settings_driver settings_driver.cpp)
add_dependencies(settings_driver fake_iexplore)
