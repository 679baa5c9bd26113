# The favorites panels' window test: a driver that links the portable core to
# prepare and read favorites files.
qimbo_driver(panels_driver panels_driver.cpp)

# The item editor's window test (tests/win/edit-test.sh runs it).
qimbo_driver(edit_driver edit_driver.cpp)
