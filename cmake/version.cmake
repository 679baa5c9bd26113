# The project's version as the sources see it: qimbo_version.h in the build
# folder (on qimbo_core's include path), for the tools and the resource scripts.
set(QIMBO_VERSION ${PROJECT_VERSION})
set(QIMBO_VERSION_COMMAS "${PROJECT_VERSION_MAJOR},${PROJECT_VERSION_MINOR},${PROJECT_VERSION_PATCH},0")
set(QIMBO_PUBLISHER "Qimbo")
set(QIMBO_COPYRIGHT "Copyright (C) 2026 Qimbo")
set(QIMBO_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
configure_file(${CMAKE_SOURCE_DIR}/cmake/qimbo_version.h.in ${QIMBO_GENERATED_DIR}/qimbo_version.h @ONLY)
