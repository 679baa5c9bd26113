# The network client: message format, links, sender, dispatch, login,
# transfer, circles and chat (portable), over the socket and thread seam.
list(APPEND QIMBO_CORE_SOURCES
  src/net/message.cpp
  src/net/link.cpp
  src/net/netstate.cpp
  src/net/transfer.cpp
  src/net/circle.cpp
  src/net/chat.cpp
  src/net/chat_links.cpp
  src/net/filters.cpp
  src/net/login.cpp
  src/os/net_trace.cpp
)
qimbo_os_parts(net)
