qimbo_test(net net/message_test.cpp net/link_test.cpp net/transfer_test.cpp net/circle_chat_test.cpp)
