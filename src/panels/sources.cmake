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
  src/panels/find_logic.cpp
)
# The find box's pinyin table, made from the Unihan readings of the
# unicode-data package (scripts/install-deps.sh installs it).
set(QIMBO_UNIHAN_READINGS /usr/share/unicode/Unihan_Readings.txt.bz2 CACHE FILEPATH
    "Unihan_Readings.txt (or .bz2) the pinyin table is made from")
if(NOT EXISTS ${QIMBO_UNIHAN_READINGS})
  message(FATAL_ERROR "No ${QIMBO_UNIHAN_READINGS}: install the unicode-data package (scripts/install-deps.sh)")
endif()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/generated/pinyin_table.cpp
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/generated
  COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/scripts/gen-pinyin-table.py ${QIMBO_UNIHAN_READINGS}
          ${CMAKE_BINARY_DIR}/generated/pinyin_table.cpp
  DEPENDS ${CMAKE_SOURCE_DIR}/scripts/gen-pinyin-table.py ${QIMBO_UNIHAN_READINGS}
  COMMENT "Making the pinyin table from the Unihan readings"
  VERBATIM)
list(APPEND QIMBO_CORE_SOURCES ${CMAKE_BINARY_DIR}/generated/pinyin_table.cpp)
qimbo_os_parts(shell http)
