// Sockets and threads on Windows: Winsock and Win32 kernel objects.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "os/net.h"
#include "win/handles_win32.h"

namespace os {

static LONG g_wsaCount = 0;

int NetStartup() {
  if (InterlockedIncrement(&g_wsaCount) > 1) return 1;
  WSADATA data;
  if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
    InterlockedDecrement(&g_wsaCount);
    return 0;
  }
  return 1;
}

void NetCleanup() {
  if (g_wsaCount > 0 && InterlockedDecrement(&g_wsaCount) == 0) WSACleanup();
}

static void FillAddress(sockaddr_in& sa, uint32_t address, uint16_t port) {
  memset(&sa, 0, sizeof sa);
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  memcpy(&sa.sin_addr, &address, 4);
}

static uint32_t AddressOf(const sockaddr_in& sa) {
  const unsigned char* b = reinterpret_cast<const unsigned char*>(&sa.sin_addr);
  return b[0] | b[1] << 8 | b[2] << 16 | (uint32_t)b[3] << 24;
}

uint32_t ResolveHost(const std::string& host) {
  if (host.empty()) return 0;
  NetStartup();
  addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* res = nullptr;
  uint32_t out = 0;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) == 0 && res) {
    for (addrinfo* p = res; p && !out; p = p->ai_next)
      if (p->ai_family == AF_INET) out = AddressOf(*reinterpret_cast<sockaddr_in*>(p->ai_addr));
    freeaddrinfo(res);
  }
  NetCleanup();
  return out;
}

// ---- sockets ----
CUdpSocket::CUdpSocket() : m_socket((intptr_t)INVALID_SOCKET) {}
CUdpSocket::~CUdpSocket() { Close(); }

int CUdpSocket::Open() {
  Close();
  NetStartup();
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    NetCleanup();
    return 0;
  }
  // A peer that went away must not make the next receive fail with a reset.
  BOOL off = FALSE;
  DWORD bytes = 0;
  WSAIoctl(s, _WSAIOW(IOC_VENDOR, 12) /* SIO_UDP_CONNRESET */, &off, sizeof off, nullptr, 0, &bytes, nullptr,
           nullptr);
  m_socket = (intptr_t)s;
  return 1;
}

int CUdpSocket::Bind(uint32_t address, uint16_t port) {
  if (!IsOpen()) return 0;
  sockaddr_in sa;
  FillAddress(sa, address, port);
  return bind((SOCKET)m_socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

int CUdpSocket::IsOpen() const { return (SOCKET)m_socket != INVALID_SOCKET; }

int CUdpSocket::SendTo(const void* data, size_t size, uint32_t address, uint16_t port) {
  if (!IsOpen()) return 0;
  sockaddr_in sa;
  FillAddress(sa, address, port);
  int n = sendto((SOCKET)m_socket, static_cast<const char*>(data), (int)size, 0, reinterpret_cast<sockaddr*>(&sa),
                 sizeof sa);
  return n == (int)size;
}

int CUdpSocket::WaitReadable(uint32_t ms) {
  if (!IsOpen()) return -1;
  fd_set set;
  FD_ZERO(&set);
  FD_SET((SOCKET)m_socket, &set);
  timeval tv;
  tv.tv_sec = ms / 1000;
  tv.tv_usec = (ms % 1000) * 1000;
  int r = select(0, &set, nullptr, nullptr, ms == kWaitForever ? nullptr : &tv);
  if (r == SOCKET_ERROR) return -1;
  return r > 0 ? 1 : 0;
}

int CUdpSocket::ReceiveFrom(void* buf, size_t capacity, uint32_t& address, uint16_t& port) {
  if (!IsOpen()) return -1;
  sockaddr_in sa;
  int len = sizeof sa;
  int n = recvfrom((SOCKET)m_socket, static_cast<char*>(buf), (int)capacity, 0, reinterpret_cast<sockaddr*>(&sa),
                   &len);
  if (n == SOCKET_ERROR) {
    // A datagram larger than the buffer arrives cut; report what was kept.
    if (WSAGetLastError() != WSAEMSGSIZE) return -1;
    n = (int)capacity;
  }
  address = AddressOf(sa);
  port = ntohs(sa.sin_port);
  return n;
}

int CUdpSocket::ReceiveWithin(uint32_t ms, void* buf, size_t capacity, uint32_t& address, uint16_t& port) {
  if (!IsOpen()) return -1;
  if (ms == 0) ms = 1;  // a zero time-out waits for ever
  if (ms != m_receiveWait) {
    DWORD wait = ms == kWaitForever ? 0 : ms;
    if (setsockopt((SOCKET)m_socket, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&wait), sizeof wait) != 0)
      return -1;
    m_receiveWait = ms;
  }
  int n = ReceiveFrom(buf, capacity, address, port);
  if (n < 0 && WSAGetLastError() == WSAETIMEDOUT) return 0;
  return n;
}

uint16_t CUdpSocket::LocalPort() const {
  if (!IsOpen()) return 0;
  sockaddr_in sa;
  int len = sizeof sa;
  if (getsockname((SOCKET)m_socket, reinterpret_cast<sockaddr*>(&sa), &len) != 0) return 0;
  return ntohs(sa.sin_port);
}

void CUdpSocket::Close() {
  if (IsOpen()) {
    closesocket((SOCKET)m_socket);
    NetCleanup();
  }
  m_socket = (intptr_t)INVALID_SOCKET;
  m_receiveWait = 0;
}

// ---- threads ----
struct CThread::Impl {
  qb::KernelHandle thread;
  std::function<void()> body;
};

CThread::CThread() : m(new Impl) {}
CThread::~CThread() { Join(); }

static DWORD WINAPI ThreadMain(LPVOID arg) {
  static_cast<CThread::Impl*>(arg)->body();
  return 0;
}

int CThread::Start(std::function<void()> body) {
  if (m->thread) return 0;
  m->body = std::move(body);
  m->thread.Reset(CreateThread(nullptr, 0, ThreadMain, m.get(), 0, nullptr));
  return m->thread.Valid();
}

int CThread::Join(uint32_t ms) {
  if (!m->thread) return 1;
  if (WaitForSingleObject(m->thread.Get(), ms == kWaitForever ? INFINITE : ms) != WAIT_OBJECT_0) return 0;
  m->thread.Reset();
  return 1;
}

int CThread::IsRunning() const { return m->thread && WaitForSingleObject(m->thread.Get(), 0) == WAIT_TIMEOUT; }

// ---- mutex: a flag under a slim lock, waited for on a condition ----
// Not a kernel mutex: every datagram takes the queues' locks several times,
// and a kernel object costs a call into the system (under Wine, a round
// trip to its server) each time even when nobody else holds it.
struct CMutex::Impl {
  SRWLOCK lock = SRWLOCK_INIT;
  CONDITION_VARIABLE freed = CONDITION_VARIABLE_INIT;
  bool held = false;
};
CMutex::CMutex() : m(new Impl) {}
CMutex::~CMutex() = default;

int CMutex::Lock(uint32_t ms) {
  AcquireSRWLockExclusive(&m->lock);
  ULONGLONG start = GetTickCount64();
  while (m->held) {
    DWORD left = INFINITE;
    if (ms != kWaitForever) {
      ULONGLONG waited = GetTickCount64() - start;
      if (waited >= ms) {
        ReleaseSRWLockExclusive(&m->lock);
        return 0;
      }
      left = static_cast<DWORD>(ms - waited);
    }
    SleepConditionVariableSRW(&m->freed, &m->lock, left, 0);
  }
  m->held = true;
  ReleaseSRWLockExclusive(&m->lock);
  return 1;
}

void CMutex::Unlock() {
  AcquireSRWLockExclusive(&m->lock);
  m->held = false;
  ReleaseSRWLockExclusive(&m->lock);
  WakeConditionVariable(&m->freed);
}

// ---- auto-reset event ----
struct CEvent::Impl {
  qb::KernelHandle event{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
};
CEvent::CEvent() : m(new Impl) {}
CEvent::~CEvent() = default;
void CEvent::Set() { SetEvent(m->event.Get()); }
void* CEvent::NativeHandle() const { return m->event.Get(); }
int CEvent::Wait(uint32_t ms) {
  return WaitForSingleObject(m->event.Get(), ms == kWaitForever ? INFINITE : ms) == WAIT_OBJECT_0;
}


double NetTraceClockMs() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// The file QIMBO_NET_TRACE names, to append to; none without it.
FILE* OpenNetTraceFile() {
  wchar_t path[MAX_PATH];
  DWORD n = GetEnvironmentVariableW(L"QIMBO_NET_TRACE", path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? _wfopen(path, L"ab") : nullptr;
}

}  // namespace os
