#include "store/favorites_file.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <unordered_map>

#include "os/os.h"

const char kBackupFileName[] = "上次收藏.bak";

std::string FavoritesFileBytes(const std::vector<const CMyNode*>& nodes) {
  qb::CMemorySink sink;
  qb::CArchiveWriter ar(sink);
  ar.WriteU32((uint32_t)nodes.size());
  for (const CMyNode* n : nodes) n->Store(ar);
  return sink.Bytes();
}

namespace {

// The records of a file image in memory, or of a file read through a window
// that is filled again as the records are taken, instead of the whole file
// in memory: the bytes are parsed while the read has just left them in the
// processor's cache, and a large file touches no fresh memory of its size
// (in a new process, a 23 MB file's buffer was a third of the first load's
// page faults). A record that runs past the window is read again once the
// window holds it. The bytes, or the file's size when opened, bound
// everything: a file that ends early, or claims more records than its size
// can hold, fails.
class CRecordReader {
 public:
  static constexpr size_t kWindow = kFavoritesReadWindow;

  CRecordReader() = default;
  explicit CRecordReader(const std::string& bytes) {
    m_src.emplace(bytes.data(), bytes.size());
    m_ar.emplace(*m_src);
  }
  int Open(const std::string& path) {
    if (!m_in.Open(path)) return 0;
    m_cap = (size_t)std::max<uint64_t>(64, std::min<uint64_t>(kWindow, m_in.Remaining()));
    m_window.reset(new (std::nothrow) char[m_cap]);
    return m_window && Fill(0);
  }
  int ReadCount(uint32_t& count) {
    if (!m_ar) return 0;  // no file was opened
    for (size_t left = (size_t)m_src->Remaining(); !m_ar->ReadU32(count); left = (size_t)m_src->Remaining())
      if (!Fill(left)) return 0;
    return count <= (m_src->Remaining() + m_in.Remaining()) / kMinNodeRecordBytes;
  }
  // The next record as a new node, or null when the file holds no complete one.
  std::unique_ptr<CMyNode> Next() {
    for (;;) {
      size_t left = (size_t)m_src->Remaining();
      std::unique_ptr<CMyNode> n(new CMyNode(0));  // the record sets the time
      if (n->Load(*m_ar)) return n;
      if (!Fill(left)) return nullptr;
    }
  }

 private:
  // Keeps the window's last `left` bytes (a record begun), moved to its
  // start, and reads more after them; 0 when nothing more could be read
  // (always for bytes in memory).
  int Fill(size_t left) {
    if (m_in.Remaining() == 0) return 0;
    char* w = m_window.get();
    if (left == m_cap) {  // one record larger than the window
      size_t cap = m_cap * 2;
      std::unique_ptr<char[]> bigger(new (std::nothrow) char[cap]);
      if (!bigger) return 0;
      memcpy(bigger.get(), w + m_end - left, left);
      m_window = std::move(bigger);
      m_cap = cap;
      w = m_window.get();
    } else if (left) {
      memmove(w, w + m_end - left, left);
    }
    size_t want = (size_t)std::min<uint64_t>(m_cap - left, m_in.Remaining());
    size_t got = m_in.Read(w + left, want);
    m_end = left + got;
    m_src.emplace(w, m_end);
    m_ar.emplace(*m_src);
    return got != 0;
  }

  os::CReadStream m_in;
  std::unique_ptr<char[]> m_window;
  size_t m_cap = kWindow, m_end = 0;
  std::optional<qb::CMemorySource> m_src;
  std::optional<qb::CArchiveReader> m_ar;
};

// Only the web-address folder lives in these files; program nodes are
// rebuilt from the disk, and an item without a category has no place.
bool BelongsInTheList(CMyNode& n) {
  if (n.m_nKind == UrlCategory) {
    // A category has no parent; a parent name in its record (never written)
    // must not make it differ from an equal one until the next save.
    n.m_strParentName.clear();
    return true;
  }
  return n.m_nKind == UrlItem && !n.m_strParentName.empty();
}

}  // namespace

int ReadFavoritesRecords(const std::string& bytes, std::vector<CMyNode*>& out) {
  out.clear();
  CRecordReader records(bytes);
  uint32_t count = 0;
  if (!records.ReadCount(count)) return 0;
  out.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<CMyNode> n = records.Next();
    if (!n) {
      for (CMyNode* d : out) delete d;
      out.clear();
      return 0;
    }
    out.push_back(n.release());
  }
  return 1;
}

bool IsCompleteFavoritesFile(const std::string& bytes) {
  std::vector<CMyNode*> records;
  if (!ReadFavoritesRecords(bytes, records)) return false;
  for (CMyNode* n : records) delete n;
  return true;
}

int LoadFavoritesFile(CMyNodeList& list, const std::string& path) {
  // A save that ended before its last step left the new contents beside.
  os::TakeCompleteNewFile(path, IsCompleteFavoritesFile);
  CRecordReader records;
  uint32_t count = 0;
  if (!records.Open(path) || !records.ReadCount(count)) return 0;
  // Each node joins the list as soon as it is read, while it is still in
  // the processor's cache; a record that is not complete ends the loader
  // unfinished, which takes them all out again.
  CMyNodeList::CLoader loader(list, count);
  for (uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<CMyNode> n = records.Next();
    if (!n) return 0;
    if (BelongsInTheList(*n)) loader.Add(n.release());
  }
  loader.Finish();
  return 1;
}

int ReplaceFileKeepingBackup(const std::string& path, const std::string& backup, const std::string& bytes) {
  return os::SaveFileReplacing(path, backup, bytes);
}

int SaveFavoritesFile(const CMyNodeList& list, const std::string& dataDir, const std::string& name) {
  std::vector<const CMyNode*> nodes;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) nodes.push_back(n);
  return ReplaceFileKeepingBackup(dataDir + name, dataDir + kBackupFileName, FavoritesFileBytes(nodes));
}

int WriteBookmark(const CMyNodeList& list, const std::string& path, const CMyNode* category) {
  if (!category || list.CountChildren(category) == 0) return 0;
  std::vector<const CMyNode*> nodes;
  for (const CMyNode* n : list)
    if (n == category || n->m_pParent == category) nodes.push_back(n);
  return ReplaceFileKeepingBackup(path, std::string(), FavoritesFileBytes(nodes));
}

int ImportBookmark(CMyNodeList& list, const std::string& path, int slot, qb::IUserInterface* ui) {
  if (path.empty() || slot < 0) return 0;
  CMyNodeList read;
  if (!LoadFavoritesFile(read, path)) return 0;
  std::string lastName;
  for (CMyNode* n : read) {
    if (n->m_nKind != UrlCategory) continue;
    n->m_nSlot = slot;
    lastName = n->m_strName;
  }
  if (!lastName.empty() && list.FindNode(lastName, UrlCategory)) {
    if (ui) ui->ShowMessage("重名！请修改现有分类名称", "Qimbo收藏", qb::kMbOk | qb::kMbIconStop);
    return 1;
  }
  std::vector<CMyNode*> nodes(read.begin(), read.end());
  read.ReleaseAll();
  list.AddNodes(nodes);
  return 1;
}

void ReplaceWebFolder(CMyNodeList& list, CMyNodeList& download) {
  // The downloaded list can hold the sender's program folder too; only its
  // web-address folder replaces ours.
  std::vector<CMyNode*> web;
  for (CMyNode* n : download) {
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) {
      n->m_pParent = nullptr;
      web.push_back(n);
    } else {
      delete n;
    }
  }
  download.ReleaseAll();
  // Items join the first downloaded category of their parent name.
  std::unordered_map<std::string, CMyNode*> firstCategory;
  for (CMyNode* n : web)
    if (n->m_nKind == UrlCategory) firstCategory.emplace(n->m_strName, n);
  std::vector<CMyNode*> ordered;
  for (CMyNode* n : web) {
    if (n->m_nKind == UrlItem) {
      auto it = firstCategory.find(n->m_strParentName);
      if (it == firstCategory.end()) {
        delete n;
        continue;
      }
      n->m_pParent = it->second;
    }
    ordered.push_back(n);
  }
  for (CMyNode* n : list) {
    if (n->m_nKind == ProgramCategory || n->m_nKind == ProgramItem)
      ordered.push_back(n);
    else
      delete n;
  }
  list.ReleaseAll();
  list.AddNodes(ordered);
}

std::string WebFolderBytes(const CMyNodeList& list) {
  std::vector<const CMyNode*> nodes;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) nodes.push_back(n);
  return FavoritesFileBytes(nodes);
}

const char kBackupFolderName[] = "backup";

std::string BackupFolderOf(const std::string& favoritesPath) {
  size_t cut = favoritesPath.rfind('\\');
  return (cut == std::string::npos ? std::string() : favoritesPath.substr(0, cut + 1)) + kBackupFolderName + "\\";
}

std::string FavoritesStem(const std::string& favoritesPath) {
  size_t slash = favoritesPath.rfind('\\');
  std::string name = slash == std::string::npos ? favoritesPath : favoritesPath.substr(slash + 1);
  if (name.size() > 3 && name.compare(name.size() - 3, 3, ".sc") == 0) name.resize(name.size() - 3);
  return name;
}

int SaveDatedCopy(const std::string& folder, const std::string& stem, const std::string& what,
                  const std::string& bytes, size_t keep) {
  if (!os::CreateFolder(folder.substr(0, folder.size() - 1))) return 0;
  std::string prefix = stem + "-" + what + "-";
  std::string stamp = prefix + os::FormatLocalTime("%Y%m%d-%H%M%S") + "-";
  std::vector<os::DirEntry> entries;
  std::vector<std::string> copies;
  if (os::ListFolder(folder, "*.sc", entries))
    for (const os::DirEntry& e : entries)
      if (!e.isFolder && e.name.compare(0, prefix.size(), prefix) == 0) copies.push_back(e.name);
  // The number after the highest of this second, never a freed one: the
  // names must sort as the copies were made.
  int number = 1;
  for (const std::string& c : copies)
    if (c.compare(0, stamp.size(), stamp) == 0) number = std::max(number, atoi(c.c_str() + stamp.size()) + 1);
  std::string name = stamp + (number < 10 ? "0" : "") + std::to_string(number) + ".sc";
  if (!ReplaceFileKeepingBackup(folder + name, std::string(), bytes)) return 0;
  copies.push_back(name);
  std::sort(copies.begin(), copies.end());
  for (size_t i = 0; i + keep < copies.size(); ++i) os::RemoveFile(folder + copies[i]);
  return 1;
}

std::string SyncBasePath(const std::string& favoritesPath, int32_t user) {
  return favoritesPath + "." + std::to_string(user) + ".sync-base";
}

void BuildTopVisitedList(const CMyNodeList& list, std::vector<TopVisited>& out) {
  std::vector<TopVisited> all;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlItem) all.push_back(TopVisited{n->m_strName, n->m_strAddress, n->m_nVisits});
  // The program's selection sort, stopped once the first 38 places are settled:
  // later passes never move an entry into them.
  size_t passes = all.empty() ? 0 : std::min(all.size() - 1, kTopVisitedMax);
  for (size_t i = 0; i < passes; ++i) {
    size_t best = i;
    for (size_t j = i + 1; j < all.size(); ++j)
      if (all[j].m_nVisits > all[best].m_nVisits) best = j;
    if (best != i) std::swap(all[i], all[best]);
  }
  if (all.size() > kTopVisitedMax) all.resize(kTopVisitedMax);
  out.insert(out.end(), all.begin(), all.end());
}
