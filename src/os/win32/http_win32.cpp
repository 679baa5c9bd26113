// HTTP GET on Windows through WinINet, with the browser's proxy settings.
#include <windows.h>
#include <wininet.h>

#include "os/http.h"
#include "win/text_win32.h"

namespace os {

using qb::W;

namespace {

class CInetStream : public CHttpStream {
 public:
  CInetStream(HINTERNET session, HINTERNET url) : m_session(session), m_url(url) {}
  ~CInetStream() override {
    InternetCloseHandle(m_url);
    InternetCloseHandle(m_session);
  }
  CInetStream(const CInetStream&) = delete;
  CInetStream& operator=(const CInetStream&) = delete;
  long Read(char* dst, size_t n) override {
    DWORD got = 0;
    if (!InternetReadFile(m_url, dst, (DWORD)n, &got)) return -1;
    return (long)got;
  }

 private:
  HINTERNET m_session;
  HINTERNET m_url;
};
}  // namespace

std::unique_ptr<CHttpStream> HttpOpen(const std::string& address, const std::string& agent,
                                      const std::string& headers) {
  DWORD state = 0;
  InternetGetConnectedState(&state, 0);
  DWORD access = (state & INTERNET_CONNECTION_PROXY) ? INTERNET_OPEN_TYPE_PRECONFIG
                                                     : INTERNET_OPEN_TYPE_PRECONFIG_WITH_NO_AUTOPROXY;
  HINTERNET session = InternetOpenW(W(agent).c_str(), access, nullptr, nullptr, 0);
  if (!session) return nullptr;
  std::wstring h = W(headers);
  HINTERNET url = InternetOpenUrlW(session, W(address).c_str(), h.c_str(), (DWORD)h.size(),
                                   INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE, 0);
  if (!url) {
    InternetCloseHandle(session);
    return nullptr;
  }
  return std::make_unique<CInetStream>(session, url);
}

}  // namespace os
