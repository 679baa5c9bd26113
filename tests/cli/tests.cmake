# The command lines of qimbo-tool and qimbo-server (native only).
if(NOT WIN32 AND TARGET qimbo-server AND TARGET qimbo-tool)
  add_test(NAME native.cli COMMAND sh ${CMAKE_CURRENT_SOURCE_DIR}/cli/cli_test.sh
           $<TARGET_FILE:qimbo-tool> $<TARGET_FILE:qimbo-server> ${PROJECT_VERSION})
endif()
