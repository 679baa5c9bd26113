#include "app/app_logic.h"

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

int CAppLogic::OpenFavoritesAtStart() {
  m_strCurrentFile = kDefaultFile;
  std::string data = DataFolder();
  std::string current = data + kDefaultFile, legacy = data + kLegacyFile, older = data + kOlderLegacyFile;
  std::string backup = data + kBackupFileName;
  // A save interrupted between putting the old file aside and putting the new
  // one in place leaves only the backup: it comes back first.
  if (!os::FileExists(current) && os::FileExists(backup)) os::RenameFile(backup, current);

  if (os::FileExists(current)) {
    if (LoadFavorites(current)) {
      if (os::FileExists(legacy)) os::RemoveFile(legacy);
      if (os::FileExists(older)) os::RemoveFile(older);
      return 1;
    }
    // Keep the unreadable file where no listing of favorites files finds it
    // and no save overwrites it, then fall back on the last backup.
    std::string aside = current + ".bad";
    for (int i = 1; os::FileExists(aside); ++i) aside = current + ".bad" + std::to_string(i);
    os::RenameFile(current, aside);
    if (LoadFavorites(backup) && SaveCurrentFavorites()) return 1;
  } else if (os::FileExists(legacy)) {
    if (LoadFavorites(legacy) && SaveCurrentFavorites()) {
      os::RemoveFile(legacy);
      if (os::FileExists(older)) os::RemoveFile(older);
      return 1;
    }
  } else if (os::FileExists(older)) {
    if (LoadFavorites(older) && SaveCurrentFavorites()) {
      os::RemoveFile(older);
      return 1;
    }
  }
  // Whatever a half-successful attempt above brought in gives way to the import.
  DeleteKind(UrlItem);
  DeleteKind(UrlCategory);
  if (!ImportBrowserFavorites()) return 0;
  // Today's browsers seldom fill the Favorites folder; their bookmarks come instead.
  if (CountKind(UrlItem) == 0) ImportChromiumProfiles(*this, m_strLocalAppData);
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

void CAppLogic::ReplaceWithDownloaded(CMyNodeList& download) { ReplaceWebFolder(*this, download); }

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
