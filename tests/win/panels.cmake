# The favorites panels' window test: a driver that links the portable core to
# prepare and read favorites files.
add_executable(panels_driver panels_driver.cpp)
target_compile_options(panels_driver PRIVATE ${QIMBO_FLAGS})
target_link_libraries(panels_driver PRIVATE qimbo_core user32 gdi32)
target_link_options(panels_driver PRIVATE -municode)
