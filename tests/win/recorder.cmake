# The recorder's window test: the driver that records on an item of the
# running program and replays into a window of its own.
add_executable(recorder_driver recorder_driver.cpp)
target_compile_options(recorder_driver PRIVATE ${QIMBO_FLAGS})
target_link_libraries(recorder_driver PRIVATE qimbo_core user32 gdi32)
target_link_options(recorder_driver PRIVATE -municode)
