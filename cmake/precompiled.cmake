# Precompiled headers: the system headers nearly every file of a target
# includes (the Windows headers, GoogleTest's, the common standard ones) are
# parsed once per target instead of once per file. Not in the fuzz build,
# whose compiler launcher rewrites each file it compiles. Off with
# -DQIMBO_PCH=OFF.
option(QIMBO_PCH "Precompile the common system headers" ON)

# Called at the end of the top CMakeLists.txt, once every target is known.
function(qimbo_precompile_headers)
  if(NOT QIMBO_PCH OR QIMBO_FUZZ)
    return()
  endif()
  set(std <algorithm> <map> <memory> <string> <vector>)
  set(win <windows.h> <commctrl.h>)
  if(TARGET qimbo_win32)
    target_precompile_headers(qimbo_win32 PRIVATE ${win} ${std})
  endif()
  # The suites share the test library's: GoogleTest and the standard headers.
  target_precompile_headers(qimbo_testutil PRIVATE <gtest/gtest.h> ${std})
  if(TARGET test_windows)
    # The window suite, the largest, with the Windows headers as well.
    target_precompile_headers(test_windows PRIVATE <gtest/gtest.h> ${win} ${std})
  endif()
  get_property(subdirs DIRECTORY ${CMAKE_SOURCE_DIR}/tests PROPERTY SUBDIRECTORIES)
  foreach(dir ${CMAKE_SOURCE_DIR}/tests ${subdirs})
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target ${targets})
      if(target MATCHES "^test_" AND NOT target STREQUAL "test_windows")
        target_precompile_headers(${target} REUSE_FROM qimbo_testutil)
      endif()
    endforeach()
  endforeach()
endfunction()
