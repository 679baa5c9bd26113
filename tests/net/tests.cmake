qimbo_test(net net/message_test.cpp net/link_test.cpp net/transfer_test.cpp net/circle_chat_test.cpp net/chat_links_test.cpp)
# The command-line client against the real server (native only).
if(NOT WIN32 AND TARGET qimbo-server AND TARGET qimbo-tool)
  add_test(NAME e2e.net COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/net/net_e2e.sh
           $<TARGET_FILE:qimbo-server> $<TARGET_FILE:qimbo-tool>)
endif()
