// CAppLogic: the model of the whole program. It is the list of every
// favorites node and keeps the state the windows share.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "base/ui.h"
#include "skin/config.h"
#include "skin/skin.h"
#include "store/favorites_file.h"
#include "store/node.h"

class CAppLogic : public CMyNodeList {
 public:
  explicit CAppLogic(qb::IUserInterface* ui = nullptr);

  // The logic start: program directory, program folders, favorites,
  // top-visited list. The result is that of opening the favorites.
  int Start();

  // ---- program directory and profile ----
  std::string m_strProgramDir;  // ends in '\'
  std::string m_strUserName;
  // Home path of the user profile; read from the registry at start when empty.
  // Tests and tools point it at a folder of their own.
  std::string m_strHomePath;
  // Where the browsers keep their profiles (local and roaming application
  // data); read at start when empty.
  std::string m_strLocalAppData, m_strRoamingAppData;
  std::string DataFolder() const { return m_strProgramDir + "data\\"; }

  // ---- favorites files ----
  std::string m_strCurrentFile;  // a name inside the data folder
  std::vector<TopVisited> m_topVisited;
  int LoadFavorites(const std::string& path);
  int SaveFavorites(const std::string& name);
  int SaveCurrentFavorites() { return SaveFavorites(m_strCurrentFile); }
  int OpenFavoritesAtStart();
  int SwitchFavoritesFile(const std::string& name);
  std::vector<std::string> ListFavoritesFiles() const;
  int WriteBookmarkFile(const std::string& path, const CMyNode* category);
  int ImportBookmarkFile(const std::string& path, int slot);
  // The web-address folder becomes the downloaded nodes; `download` is emptied.
  // The folder it replaces is kept first as a dated copy in data\backup\.
  void ReplaceWithDownloaded(CMyNodeList& download);
  std::string CurrentFavoritesPath() const { return DataFolder() + m_strCurrentFile; }
  // The current file's name without ".sc": the stem of its dated copies.
  std::string CurrentFileStem() const;
  void BuildTopVisited();
  // An entry of the top-visited menu was opened.
  void CountTopVisit(const std::string& name);

  // ---- imports ----
  int m_nNextProgramSlot = 1;
  int ImportDesktop(const std::string& user);
  int ImportStartMenu(const std::string& user);
  int ImportBrowserFavorites();

  // ---- node operations of the panels ----
  int RenameCategory(CMyNode* category, const std::string& name);
  int MoveProgramItem(CMyNode* item, CMyNode* category);
  int DeleteProgramFile(CMyNode* node);

  // ---- configuration and skin ----
  // Read at start between the program folders and the favorites; whatever
  // cannot be read keeps its defaults.
  qb::ConfigSettings m_config;
  qb::SkinSet m_skins;

  // ---- network state ----
  // (login, transfer, circles and chat state live here)

  qb::IUserInterface* m_pUi;

 private:
  std::string ProfilesRoot() const;
};
