# The favorites store: tree, files, imports (portable).
list(APPEND QIMBO_CORE_SOURCES
  src/store/node.cpp
  src/store/favorites_file.cpp
  src/store/importer.cpp
  src/store/bookmark_html.cpp
  src/store/web_import.cpp
  src/store/import_chromium.cpp
  src/store/merge.cpp
)
qimbo_os_parts(fileattr)
