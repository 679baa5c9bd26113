#include "testutil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "os/os.h"

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

}  // namespace qbtest
