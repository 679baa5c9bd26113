# The panels' portable helpers, and the shell and HTTP parts of the OS seam.
list(APPEND QIMBO_CORE_SOURCES
  src/panels/geometry.cpp
  src/panels/panel_text.cpp
  src/panels/open_item.cpp
  src/panels/site_icon.cpp
  src/panels/panel_logic.cpp
  src/panels/circles.cpp
  src/panels/capture_logic.cpp
  src/panels/page_fetcher.cpp
)
if(WIN32)
  list(APPEND QIMBO_CORE_SOURCES src/os/win32/shell_win32.cpp src/os/win32/http_win32.cpp)
else()
  list(APPEND QIMBO_CORE_SOURCES src/os/posix/shell_posix.cpp src/os/posix/http_posix.cpp)
endif()
