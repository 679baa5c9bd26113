#include "model/app_logic.h"

#include <unordered_set>

#include "os/fileattr.h"
#include "os/os.h"
#include "skin/settings.h"
#include "store/import_chromium.h"
#include "store/importer.h"

namespace {
const char kDefaultFile[] = "1-我的收藏.sc";
const char kLegacyFile[] = "我的收藏.db";
const char kOlderLegacyFile[] = "MyFavorites.db";
const char kAllUsers[] = "All Users";
}  // namespace

CAppLogic::CAppLogic(qb::IUserInterface* ui) : m_pUi(ui) { qb::ResetSkins(m_skins); }

int CAppLogic::Start() {
  m_strProgramDir = os::ProgramDirectory();
  m_strBaseDir = m_strProgramDir;
  m_strUserName = os::UserName();
  if (m_strHomePath.empty()) m_strHomePath = ReadHomePath();
  if (m_strLocalAppData.empty()) m_strLocalAppData = os::LocalAppDataFolder();
  if (m_strRoamingAppData.empty()) m_strRoamingAppData = os::RoamingAppDataFolder();

  ImportDesktop(m_strUserName);
  ImportDesktop(kAllUsers);
  ImportStartMenu(m_strUserName);
  ImportStartMenu(kAllUsers);

  qb::LoadSettingsAtStart(m_strProgramDir, m_config, m_skins, m_pUi);

  int result = OpenFavoritesAtStart();
  BuildTopVisited();
  return result;
}

std::string CAppLogic::ProfilesRoot() const { return ProfilesFolder(m_strHomePath); }

int CAppLogic::LoadFavorites(const std::string& path) { return LoadFavoritesFile(*this, path); }

int CAppLogic::SaveFavorites(const std::string& name) { return SaveFavoritesFile(*this, DataFolder(), name); }

namespace {
// Every web-address node of the file at `path` is in `list` (same kind, name,
// address and category name): the file's contents were saved into the file
// that `list` was read from.
bool ContentsSavedIn(const std::string& path, const CMyNodeList& list) {
  CMyNodeList old;
  if (!LoadFavoritesFile(old, path)) return false;
  auto key = [](const CMyNode* n) {
    std::string parent = n->m_pParent ? n->m_pParent->m_strName : std::string();
    return std::to_string(n->m_nKind) + '\0' + n->m_strName + '\0' + n->m_strAddress + '\0' + parent;
  };
  std::unordered_set<std::string> have;
  for (const CMyNode* n : list)
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem) have.insert(key(n));
  for (const CMyNode* n : old)
    if (!have.count(key(n))) return false;
  return true;
}
}  // namespace

int CAppLogic::OpenFavoritesAtStart() {
  m_strCurrentFile = kDefaultFile;
  std::string data = DataFolder();
  std::string current = data + kDefaultFile, backup = data + kBackupFileName;
  const std::string legacy[] = {data + kLegacyFile, data + kOlderLegacyFile};
  // An old-version file goes only once its contents are in the current file.
  auto dropConverted = [&] {
    for (const std::string& old : legacy)
      if (os::FileExists(old) && ContentsSavedIn(old, *this)) os::RemoveFile(old);
  };
  // Saves that ended before their last step left their new files complete
  // beside the names they were to take; they take them now, so the file box
  // lists them again.
  std::vector<os::DirEntry> unfinished;
  if (os::ListFolder(data, "*.sc.new", unfinished))
    for (const os::DirEntry& e : unfinished)
      if (!e.isFolder) os::TakeCompleteNewFile(data + e.name.substr(0, e.name.size() - 4), IsCompleteFavoritesFile);

  if (os::FileExists(current)) {
    if (LoadFavorites(current)) {
      dropConverted();
      return 1;
    }
    // Keep the unreadable file where no listing of favorites files finds it
    // and no save overwrites it.
    std::string aside = current + ".bad";
    for (int i = 1; os::FileExists(aside); ++i) aside = current + ".bad" + std::to_string(i);
    os::RenameFile(current, aside);
  }
  // Without a current file, an old-version file comes before the backup: the
  // backup is the previous contents of some save, maybe an old version's.
  for (const std::string& old : legacy) {
    if (!os::FileExists(old)) continue;
    if (LoadFavorites(old) && SaveCurrentFavorites()) {
      os::RemoveFile(old);
      dropConverted();
      return 1;
    }
    DeleteKind(UrlItem);
    DeleteKind(UrlCategory);
  }
  // The backup is read and saved as the current file; it stays the backup.
  if (os::FileExists(backup)) {
    if (LoadFavorites(backup) && SaveCurrentFavorites()) return 1;
  }
  // Whatever a half-successful attempt above brought in gives way to the import.
  DeleteKind(UrlItem);
  DeleteKind(UrlCategory);
  if (!ImportBrowserFavorites()) return 0;
  // Today's browsers seldom fill the Favorites folder; their bookmarks come instead.
  if (CountKind(UrlItem) == 0) ImportChromiumProfiles(*this, m_strLocalAppData, m_strRoamingAppData);
  SaveCurrentFavorites();
  return 1;
}

int CAppLogic::SwitchFavoritesFile(const std::string& name) {
  std::string path = DataFolder() + name;
  if (!os::FileExists(path)) return 0;
  // The web-address folder is set aside, not deleted, until the new file has
  // loaded: a file that fails to load must not leave an empty folder behind
  // for the next save to write over the current file.
  std::vector<CMyNode*> before = m_nodes, web;
  size_t keep = 0;
  for (CMyNode* n : before) {
    if (n->m_nKind == UrlCategory || n->m_nKind == UrlItem)
      web.push_back(n);
    else
      m_nodes[keep++] = n;
  }
  m_nodes.resize(keep);
  if (!LoadFavorites(path)) {
    m_nodes = before;
    return 0;
  }
  for (CMyNode* n : web) delete n;
  m_strCurrentFile = name;
  m_topVisited.clear();
  BuildTopVisited();
  return 1;
}

std::vector<std::string> CAppLogic::ListFavoritesFiles() const {
  std::vector<std::string> names;
  std::vector<os::DirEntry> entries;
  if (!os::ListFolder(DataFolder(), "*.sc", entries)) return names;
  for (const os::DirEntry& e : entries)
    if (!e.isFolder) names.push_back(e.name);
  return names;
}

int CAppLogic::WriteBookmarkFile(const std::string& path, const CMyNode* category) {
  return WriteBookmark(*this, path, category);
}

int CAppLogic::ImportBookmarkFile(const std::string& path, int slot) {
  return ImportBookmark(*this, path, slot, m_pUi);
}

void CAppLogic::ReplaceWithDownloaded(CMyNodeList& download) {
  // An unintended download can be undone from the copy (README: bringing a
  // replaced tree back).
  if (CountKind(UrlCategory) + CountKind(UrlItem) > 0)
    SaveDatedCopy(BackupFolderOf(CurrentFavoritesPath()), CurrentFileStem(), "下载前", WebFolderBytes(*this));
  ReplaceWebFolder(*this, download);
}

std::string CAppLogic::CurrentFileStem() const { return FavoritesStem(m_strCurrentFile); }

void CAppLogic::BuildTopVisited() { BuildTopVisitedList(*this, m_topVisited); }

void CAppLogic::CountTopVisit(const std::string& name) {
  if (CMyNode* n = FindNode(name, UrlItem)) ++n->m_nVisits;
}

int CAppLogic::ImportDesktop(const std::string& user) { return ::ImportDesktop(*this, ProfilesRoot(), user); }

int CAppLogic::ImportStartMenu(const std::string& user) {
  return ::ImportStartMenu(*this, ProfilesRoot(), user, m_nNextProgramSlot, m_pUi);
}

int CAppLogic::ImportBrowserFavorites() {
  if (m_strHomePath.empty()) return 1;  // no profile: nothing to import
  return ::ImportBrowserFavorites(*this, FavoritesFolder(m_strHomePath));
}

int CAppLogic::RenameCategory(CMyNode* category, const std::string& name) {
  if (!category) return 0;
  for (const CMyNode* n : *this)
    if (n != category && n->m_nKind == category->m_nKind && n->m_strName == name) return 0;
  if (category->m_nKind == UrlCategory) {
    category->m_strName = name;
    return 1;
  }
  if (category->m_nKind != ProgramCategory) return 0;
  std::string from = category->m_strAddress + category->m_strName;
  if (!os::FileExists(from) || !os::RenameFile(from, category->m_strAddress + name)) return 0;
  category->m_strName = name;
  return 1;
}

int CAppLogic::MoveProgramItem(CMyNode* item, CMyNode* category) {
  if (!item || !category) return 0;
  std::string folder = category->m_strAddress + category->m_strName + "\\";
  if (!os::CopyOneFile(item->m_strAddress + item->m_strName, folder + item->m_strName, 0)) return 0;
  os::RemoveFile(item->m_strAddress + item->m_strName);
  item->m_pParent = category;
  item->m_strAddress = folder;
  return 1;
}

int CAppLogic::DeleteProgramFile(CMyNode* node) {
  if (!node || CountChildren(node) > 0) return 0;
  std::string path = node->m_strAddress + node->m_strName;
  if (!os::ClearReadOnly(path)) return 0;
  return os::RemoveFile(path);
}
