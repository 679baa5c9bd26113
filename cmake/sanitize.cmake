# The two sanitized builds. Both change every target of their build folder, so
# the normal builds (build/native, build/win) stay as they are.
if(QIMBO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

if(QIMBO_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "QIMBO_FUZZ needs clang: configure with CC=clang CXX=clang++")
  endif()
  # clang writes narrow literals only in UTF-8; the launcher gives them the
  # program's GBK bytes (see fuzz/gbk-literals.py).
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/fuzz/gbk-literals.py)
  # Coverage for libFuzzer everywhere; the fuzzer's main is linked into the
  # fuzz targets only.
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
