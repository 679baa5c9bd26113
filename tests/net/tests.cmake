qimbo_test(net net/message_test.cpp)
