# The favorites panels' window test: a driver that links the portable core to
# prepare and read favorites files.
add_executable(panels_driver panels_driver.cpp)
target_compile_options(panels_driver PRIVATE ${QIMBO_FLAGS})
target_link_libraries(panels_driver PRIVATE qimbo_core user32 gdi32)
target_link_options(panels_driver PRIVATE -municode)

# The item editor's window test (tests/win/edit-test.sh runs it).
add_executable(edit_driver edit_driver.cpp)
target_compile_options(edit_driver PRIVATE ${QIMBO_FLAGS})
target_link_libraries(edit_driver PRIVATE qimbo_core user32 gdi32)
target_link_options(edit_driver PRIVATE -municode)
