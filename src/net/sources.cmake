# The network client: message format, links, sender, dispatch, login,
# transfer, circles and chat (portable), over the socket and thread seam.
list(APPEND QIMBO_CORE_SOURCES
  src/net/message.cpp
)
