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
  src/panels/item_edit.cpp
)
qimbo_os_parts(shell http)
