// A plain HTTP GET for site icons and offline pages. On Windows this is
// WinINet; elsewhere a small HTTP/1.0 client over a TCP socket.
#pragma once
#include <cstddef>
#include <memory>
#include <string>

namespace os {

// The body of one response, read block by block.
class CHttpStream {
 public:
  virtual ~CHttpStream() {}
  // Bytes read into dst (at most n); 0 at the end of the body; -1 on an error.
  virtual long Read(char* dst, size_t n) = 0;
};

// Opens `address` (an "http://" address) with the client name `agent` and
// the extra request `headers`, always from the server and never from or into
// a cache. Null when the request cannot be made. As with the browser's own
// library, an answer with an error status still gives its body.
std::unique_ptr<CHttpStream> HttpOpen(const std::string& address, const std::string& agent,
                                      const std::string& headers);

}  // namespace os
