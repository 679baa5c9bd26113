qimbo_test(net net/message_test.cpp net/link_test.cpp net/transfer_test.cpp net/circle_chat_test.cpp net/chat_links_test.cpp)
# The command-line client against the real server (native only).
if(NOT WIN32 AND TARGET qimbo-server AND TARGET qimbo-tool)
  add_test(NAME e2e.net COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/net/net_e2e.sh
           $<TARGET_FILE:qimbo-server> $<TARGET_FILE:qimbo-tool>)
endif()
# The relay that loses datagrams, and the transfers through it (native only).
# "cmake --build DIR --target lossy_bench" times them at 0, 5 and 10 % loss.
if(NOT WIN32 AND TARGET qimbo-server AND TARGET qimbo-tool)
  add_executable(qimbo-lossy-relay net/lossy_relay.cpp)
  add_test(NAME e2e.lossy COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/net/lossy_e2e.sh
           $<TARGET_FILE:qimbo-server> $<TARGET_FILE:qimbo-tool> $<TARGET_FILE:qimbo-lossy-relay>)
  add_custom_target(lossy_bench COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/net/lossy_e2e.sh
                    $<TARGET_FILE:qimbo-server> $<TARGET_FILE:qimbo-tool> $<TARGET_FILE:qimbo-lossy-relay> 0 0.05 0.10
                    DEPENDS qimbo-server qimbo-tool qimbo-lossy-relay USES_TERMINAL)
endif()
