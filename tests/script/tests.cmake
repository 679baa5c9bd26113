qimbo_test(script script/script_file_test.cpp)
