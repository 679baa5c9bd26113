# The favorites store: tree, files, imports (portable).
list(APPEND QIMBO_CORE_SOURCES
  src/store/node.cpp
)
