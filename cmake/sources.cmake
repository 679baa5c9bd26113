# Every portable source file of the core library, one list per layer.
set(QIMBO_BASE_SOURCES
  src/base/archive.cpp
  src/base/cipher.cpp
  src/base/codepage.cpp
  src/base/json.cpp
  src/base/ui.cpp
)
if(WIN32)  # the code page conversions by the system's own tables
  list(APPEND QIMBO_BASE_SOURCES src/base/codepage_win32.cpp)
endif()
# The OS seam's parts, each in two forms: src/os/win32/NAME_win32.cpp for
# Windows, src/os/posix/NAME_posix.cpp for the rest. A layer adds the parts
# it builds on.
macro(qimbo_os_parts)
  foreach(part ${ARGN})
    if(WIN32)
      list(APPEND QIMBO_CORE_SOURCES src/os/win32/${part}_win32.cpp)
    else()
      list(APPEND QIMBO_CORE_SOURCES src/os/posix/${part}_posix.cpp)
    endif()
  endforeach()
endmacro()

set(QIMBO_CORE_SOURCES ${QIMBO_BASE_SOURCES} src/os/os_common.cpp)
qimbo_os_parts(os)
# Each portable layer lists its files in its own folder, lowest first.
foreach(layer store skin net model panels script)
  include(${CMAKE_SOURCE_DIR}/src/${layer}/sources.cmake)
endforeach()
