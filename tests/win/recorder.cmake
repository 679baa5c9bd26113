# The recorder's window test: the driver that records on an item of the
# running program and replays into a window of its own.
qimbo_driver(recorder_driver recorder_driver.cpp)
