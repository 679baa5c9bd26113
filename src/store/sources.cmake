# The favorites store: tree, files, imports (portable).
list(APPEND QIMBO_CORE_SOURCES
  src/store/node.cpp
  src/store/favorites_file.cpp
  src/store/importer.cpp
  src/store/bookmark_html.cpp
  src/store/web_import.cpp
  src/store/import_chromium.cpp
)
if(WIN32)
  list(APPEND QIMBO_CORE_SOURCES src/os/win32/fileattr_win32.cpp)
else()
  list(APPEND QIMBO_CORE_SOURCES src/os/posix/fileattr_posix.cpp)
endif()
