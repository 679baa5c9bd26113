# qimbo-server suites: native only (the server is a Linux program).
if(NOT WIN32)
  add_executable(test_server server/server_core_test.cpp server/storage_test.cpp server/end_to_end_test.cpp
                 server/test_client.cpp server/hostile_test.cpp server/e2e_hostile_test.cpp
                 server/program_client_test.cpp server/pg_cluster.cpp server/instances_test.cpp
                 server/login_gate_test.cpp)
  target_link_libraries(test_server PRIVATE qimbo_server_lib qimbo_testutil GTest::gtest_main)
  target_include_directories(test_server PRIVATE ${QIMBO_PQ_INCLUDE})
  target_compile_options(test_server PRIVATE ${QIMBO_FLAGS})
  target_compile_definitions(test_server PRIVATE QIMBO_SERVER_EXE="$<TARGET_FILE:qimbo-server>"
                                                 QIMBO_TOOL_EXE="$<TARGET_FILE:qimbo-tool>")
  add_dependencies(test_server qimbo-server qimbo-tool)
  add_test(NAME native.server COMMAND test_server)

  # The soak run ("make soak"): long, so no test of its own.
  add_executable(server_soak server/soak.cpp server/test_client.cpp)
  target_link_libraries(server_soak PRIVATE qimbo_server_lib qimbo_testutil)
  target_compile_options(server_soak PRIVATE ${QIMBO_FLAGS})
  target_compile_definitions(server_soak PRIVATE QIMBO_SERVER_EXE="$<TARGET_FILE:qimbo-server>")
  add_dependencies(server_soak qimbo-server)

  # "cmake --build DIR --target server_bench": the server's bench on SQLite and
  # on a PostgreSQL cluster of its own, with one and with two instances.
  add_executable(server_pg_bench server/pg_bench.cpp server/pg_cluster.cpp)
  target_link_libraries(server_pg_bench PRIVATE qimbo_server_lib)
  target_include_directories(server_pg_bench PRIVATE ${QIMBO_PQ_INCLUDE})
  target_compile_options(server_pg_bench PRIVATE ${QIMBO_FLAGS})
  add_custom_target(server_bench COMMAND server_pg_bench DEPENDS server_pg_bench USES_TERMINAL)
endif()
