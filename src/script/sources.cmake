# The portable side of the input scripts: the script file format.
list(APPEND QIMBO_CORE_SOURCES src/script/script_file.cpp)
