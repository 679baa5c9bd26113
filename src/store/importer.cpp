#include "store/importer.h"

#include <algorithm>
#include <vector>

#include "base/lines.h"
#include "os/os.h"

namespace {

const char kDesktopName[] = "桌面";
const char kFirstLevel[] = "一级目录";
const char kRootCategory[] = "目录名";
const size_t kUrlFileReadMax = 1 << 20;

std::string WithoutDoubleBlanks(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    if (s[i] == ' ' && i + 1 < s.size() && s[i + 1] == ' ') {
      i += 2;
    } else {
      out.push_back(s[i++]);
    }
  }
  return out;
}

bool IsDotEntry(const std::string& name) { return name == "." || name == ".."; }

bool EndsWith(const std::string& s, const char* tail) {
  std::string t(tail);
  return s.size() >= t.size() && s.compare(s.size() - t.size(), t.size(), t) == 0;
}

// "KEY=value": the value up to its first white space, cut to kUrlValueMax bytes.
bool MatchValue(const std::string& line, const char* key, std::string& value) {
  std::string k(key);
  if (line.compare(0, k.size(), k) != 0) return false;
  size_t i = k.size();
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
  while (i < line.size() && blank(line[i])) ++i;
  size_t start = i;
  while (i < line.size() && !blank(line[i])) ++i;
  if (i == start) return false;
  value = line.substr(start, std::min(i - start, kUrlValueMax));
  return true;
}

// Adds the ".url" files of `folder` under `parent`, slots from 0; the icon of
// a shortcut that names one is the shortcut file itself.
void AddUrlFiles(CMyNodeList& list, const std::string& folder, const std::vector<os::DirEntry>& files,
                 CMyNode* parent) {
  int count = 0;
  for (const os::DirEntry& e : files) {
    CMyNode* n = ParseUrlFile(folder, e.name);
    if (!n) {
      n = new CMyNode;
      n->m_strName = e.name;
    } else if (!n->m_strIconPath.empty()) {
      n->m_strIconPath = folder + e.name;
    }
    n->m_strName = CleanName(n->m_strName);
    n->m_pParent = parent;
    n->m_nSlot = count;
    if (list.AddNode(n)) ++count;
  }
}

// A category of the tree's first level, imported from `folder`.
CMyNode* NewFirstLevelCategory(const std::string& name, int kind, const std::string& folder, int slot) {
  CMyNode* cat = new CMyNode(name, kind, nullptr, slot, folder);
  cat->m_strNote = kFirstLevel;
  return cat;
}

// Adds every entry of `folder` but the dot entries and one named `skip` (when
// given) as a program item of the program category `category`. 0 when there is
// no such category; 1 also when the folder cannot be listed.
int AddFolderItems(CMyNodeList& list, const std::string& folder, const std::string& category, const char* skip) {
  std::vector<os::DirEntry> entries;
  if (!os::ListFolder(folder, "*.*", entries)) return 1;
  for (const os::DirEntry& e : entries) {
    if (IsDotEntry(e.name) || (skip && e.name == skip)) continue;
    CMyNode* parent = list.FindNode(category, ProgramCategory);
    if (!parent) return 0;
    list.AddNode(new CMyNode(e.name, ProgramItem, parent, 0, folder));
  }
  return 1;
}

}  // namespace

std::string ReadHomePath() {
  std::string drive, path;
  if (!os::RegReadString(os::Hive::CurrentUser, "Volatile Environment", "HOMEDRIVE", drive)) return std::string();
  if (!os::RegReadString(os::Hive::CurrentUser, "Volatile Environment", "HOMEPATH", path)) return std::string();
  return drive + path;
}

std::string ProfilesFolder(const std::string& homePath) {
  size_t cut = homePath.rfind('\\');
  return cut == std::string::npos ? std::string() : homePath.substr(0, cut);
}

// The profile's own folder names where they exist; otherwise the names every
// system since Vista uses, in any language ("All Users" leads to ProgramData
// there, and the shared desktop lives under Public).
std::string DesktopFolder(const std::string& profilesFolder, const std::string& user) {
  std::string chinese = profilesFolder + "\\" + user + "\\桌面\\";
  if (os::IsFolder(chinese)) return chinese;
  std::string today = profilesFolder + "\\" + (user == "All Users" ? std::string("Public") : user) + "\\Desktop\\";
  return os::IsFolder(today) ? today : chinese;
}

std::string StartMenuFolder(const std::string& profilesFolder, const std::string& user) {
  std::string chinese = profilesFolder + "\\" + user + "\\「开始」菜单\\程序\\";
  if (os::IsFolder(chinese)) return chinese;
  std::string today = profilesFolder + "\\" + user + (user == "All Users" ? "" : "\\AppData\\Roaming") +
                      "\\Microsoft\\Windows\\Start Menu\\Programs\\";
  return os::IsFolder(today) ? today : chinese;
}

std::string FavoritesFolder(const std::string& homePath) { return homePath + "\\Favorites\\"; }

int ImportDesktop(CMyNodeList& list, const std::string& profilesFolder, const std::string& user) {
  CMyNodeList::CAddBatch batch(list);  // thousands of shortcuts stay linear
  CMyNode* cat = NewFirstLevelCategory(kDesktopName, ProgramCategory, profilesFolder + "\\" + user, 0);
  if (list.FindNode(kDesktopName, ProgramCategory))
    delete cat;
  else
    list.AddNode(cat);

  return AddFolderItems(list, DesktopFolder(profilesFolder, user), kDesktopName, nullptr);
}

int ImportStartMenu(CMyNodeList& list, const std::string& profilesFolder, const std::string& user, int& nextSlot,
                    qb::IUserInterface* ui) {
  CMyNodeList::CAddBatch batch(list);  // thousands of shortcuts stay linear
  std::string folder = StartMenuFolder(profilesFolder, user);
  std::vector<os::DirEntry> entries;
  if (!os::ListFolder(folder, "*.*", entries)) {
    if (ui) ui->ShowMessage("错误：Init读directory名称返回错误HANDLE", "Qimbo收藏", qb::kMbOk);
    return 1;
  }
  for (const os::DirEntry& e : entries) {
    if (IsDotEntry(e.name) || EndsWith(e.name, ".lnk") || EndsWith(e.name, ".ini")) continue;
    // The category's name as stored: the folder's files go to it under that name.
    std::string name = WithoutDoubleBlanks(e.name);
    if (!list.FindNode(name, ProgramCategory)) {
      CMyNode* cat = NewFirstLevelCategory(name, ProgramCategory, folder, nextSlot);
      if (list.AddNode(cat)) ++nextSlot;
    }
    AddProgramFiles(list, folder + e.name + "\\", name);
  }
  return 1;
}

int AddProgramFiles(CMyNodeList& list, const std::string& folder, const std::string& category) {
  return AddFolderItems(list, folder, category, "desktop.ini");
}

int ImportBrowserFavorites(CMyNodeList& list, const std::string& folder) {
  CMyNodeList::CAddBatch batch(list);  // thousands of shortcuts stay linear
  std::vector<os::DirEntry> entries;
  if (os::ListFolder(folder, "*.", entries)) {
    // The root category always comes first, in slot 0, whether or not the
    // directory search reports "..".
    std::vector<std::string> names(1, kRootCategory);
    for (const os::DirEntry& e : entries)
      if (!IsDotEntry(e.name)) names.push_back(e.name);
    int count = 0;
    for (size_t i = 0; i < names.size(); ++i) {
      CMyNode* cat =
          NewFirstLevelCategory(i == 0 ? names[i] : WithoutDoubleBlanks(names[i]), UrlCategory, folder, count);
      if (!list.AddNode(cat)) continue;
      ++count;
      if (i > 0) ImportUrlFolder(list, folder + names[i] + "\\", cat->m_strName);
    }
  }
  CMyNode* root = list.FindNode(kRootCategory, UrlCategory);
  std::vector<os::DirEntry> files;
  if (!os::ListFolder(folder, "*.url", files)) return 1;
  if (!files.empty() && !root) return 0;
  AddUrlFiles(list, folder, files, root);
  return 1;
}

int ImportUrlFolder(CMyNodeList& list, const std::string& folder, const std::string& category) {
  std::vector<os::DirEntry> files;
  if (!os::ListFolder(folder, "*.url", files) || files.empty()) return 0;
  CMyNode* parent = list.FindNode(category, UrlCategory);
  if (!parent) return 0;
  AddUrlFiles(list, folder, files, parent);
  return 1;
}

CMyNode* ParseUrlFile(const std::string& folder, const std::string& file) {
  // A shortcut is a few hundred bytes; whatever lies beyond the first
  // megabyte of an odd file is never looked at.
  os::CReadStream in;
  if (!in.Open(folder + file)) return nullptr;
  std::string bytes((size_t)std::min<uint64_t>(in.Remaining(), kUrlFileReadMax), '\0');
  bytes.resize(in.Read(&bytes[0], bytes.size()));
  in.Close();
  CMyNode* n = new CMyNode;
  n->m_strName = file;
  std::vector<std::string> lines = qb::SplitLines(bytes);
  for (std::string& line : lines)
    if (!line.empty() && line.back() == '\r') line.pop_back();
  // The first line is the section header. After it, reading stops once more
  // than 30 lines other than BASEURL= and IconFile= have gone by.
  int counter = 0;
  for (size_t i = 1; i < lines.size() && counter <= 30; ++i) {
    std::string value;
    bool base = MatchValue(lines[i], "BASEURL=", value);
    if (base) n->m_strAddress = value;
    if (!base && MatchValue(lines[i], "URL=", value)) n->m_strAddress = value;
    bool icon = MatchValue(lines[i], "IconFile=", value);
    if (icon) n->m_strIconPath = value;
    if (!base && !icon) ++counter;
  }
  return n;
}
