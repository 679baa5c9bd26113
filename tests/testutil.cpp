#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "os/os.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

namespace qbtest {

TempDir::TempDir() {
  static std::atomic<unsigned> counter{0};
  std::string base = os::TempFolder();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string p = base + "qimbo-test-" + std::to_string(os::TickCount()) + "-" +
                    std::to_string(counter++) + "-" + std::to_string(attempt);
    if (!os::FileExists(p) && os::CreateFolder(p)) {
      m_path = p + "\\";
      return;
    }
  }
  ADD_FAILURE() << "cannot create a temporary folder under " << base;
}

TempDir::~TempDir() {
  if (!m_path.empty()) RemoveTree(m_path.substr(0, m_path.size() - 1));
}

void RemoveTree(const std::string& folder) {
  std::vector<os::DirEntry> entries;
  if (os::ListFolder(folder, "*.*", entries)) {
    for (auto& e : entries) {
      if (e.name == "." || e.name == "..") continue;
      std::string p = os::JoinPath(folder, e.name);
      if (e.isFolder) RemoveTree(p);
      else os::RemoveFile(p);
    }
  }
  os::RemoveFolder(folder);
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  os::CWriteStream out;
  ASSERT_TRUE(out.Open(path)) << path;
  out.Write(bytes.data(), bytes.size());
  ASSERT_TRUE(out.Close()) << path;
}

std::string ReadFileBytes(const std::string& path) {
  std::string bytes;
  EXPECT_TRUE(os::ReadWholeFile(path, bytes)) << path;
  return bytes;
}

#ifndef _WIN32
CDiskLimit::CDiskLimit(size_t bytes) : m_old(RLIM_INFINITY), m_max(RLIM_INFINITY), m_bytes(bytes) {
  struct rlimit now;
  EXPECT_EQ(0, getrlimit(RLIMIT_FSIZE, &now));
  m_old = now.rlim_cur;
  m_max = now.rlim_max;
  m_oldHandler = signal(SIGXFSZ, SIG_IGN);
}

CDiskLimit::~CDiskLimit() {
  Lift();
  signal(SIGXFSZ, m_oldHandler);
}

bool CDiskLimit::Fill() {
  struct rlimit small = {(rlim_t)m_bytes, (rlim_t)m_max};
  return setrlimit(RLIMIT_FSIZE, &small) == 0;
}

void CDiskLimit::Lift() {
  struct rlimit old = {(rlim_t)m_old, (rlim_t)m_max};
  setrlimit(RLIMIT_FSIZE, &old);
}
#endif

namespace {
const char kHomeKey[] = "Volatile Environment";
}

CHomeValues::CHomeValues() : m_saved{{"HOMEDRIVE", false, ""}, {"HOMEPATH", false, ""}} {
  for (Saved& s : m_saved) s.had = os::RegReadString(os::Hive::CurrentUser, kHomeKey, s.name, s.value);
}

void CHomeValues::Set(const std::string& drive, const std::string& path) {
  m_restored = false;
  os::RegWriteString(os::Hive::CurrentUser, kHomeKey, "HOMEDRIVE", drive);
  os::RegWriteString(os::Hive::CurrentUser, kHomeKey, "HOMEPATH", path);
}

void CHomeValues::Restore() {
  if (m_restored) return;
  m_restored = true;
  for (const Saved& s : m_saved) {
    if (s.had) os::RegWriteString(os::Hive::CurrentUser, kHomeKey, s.name, s.value);
    else os::RegRemoveValue(os::Hive::CurrentUser, kHomeKey, s.name);
  }
}

os::FontDesc ChineseFont(const std::string& face, int32_t height, int32_t weight, uint8_t pitchAndFamily) {
  os::FontDesc d;
  d.head.height = height;
  d.head.weight = weight;
  d.head.charSet = 134;
  d.head.pitchAndFamily = pitchAndFamily;
  os::SetFaceName(d, face);
  return d;
}

std::string SourceFolder(const std::string& linuxPath) {
#ifdef _WIN32
  std::string p = linuxPath;
  for (char& c : p)
    if (c == '/') c = '\\';
  return "Z:" + p;
#else
  return os::ProgramPath(linuxPath);
#endif
}

}  // namespace qbtest
