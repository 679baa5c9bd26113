# Every portable source file of the core library, one list per layer.
set(QIMBO_BASE_SOURCES
  src/base/archive.cpp
  src/base/cipher.cpp
  src/base/codepage.cpp
  src/base/json.cpp
  src/base/ui.cpp
)
set(QIMBO_OS_SOURCES src/os/os_common.cpp)
if(WIN32)
  list(APPEND QIMBO_OS_SOURCES src/os/win32/os_win32.cpp)
else()
  list(APPEND QIMBO_OS_SOURCES src/os/posix/os_posix.cpp)
endif()

set(QIMBO_CORE_SOURCES ${QIMBO_BASE_SOURCES} ${QIMBO_OS_SOURCES})
# Each portable layer lists its files in its own folder, lowest first.
foreach(layer store skin net model panels script)
  include(${CMAKE_SOURCE_DIR}/src/${layer}/sources.cmake)
endforeach()
