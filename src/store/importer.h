// Filling the tree from the Windows user profile: the program folder from the
// desktop and the Start-menu programs, the web-address folder from the
// browser's Favorites folder of ".url" shortcut files.
#pragma once
#include <string>

#include "base/ui.h"
#include "store/node.h"

// The home path of the current user from the registry ("Volatile Environment":
// HOMEDRIVE + HOMEPATH), e.g. C:\Documents and Settings\name; empty when unknown.
std::string ReadHomePath();
// Home path up to, not including, its last '\'.
std::string ProfilesFolder(const std::string& homePath);
// The desktop and the Start menu's programs of a user ("All Users" for the
// shared ones): 桌面 and 「开始」菜单\程序 in the profile where they exist, else
// today's Desktop (Public for all users) and ...\Start Menu\Programs.
std::string DesktopFolder(const std::string& profilesFolder, const std::string& user);
std::string StartMenuFolder(const std::string& profilesFolder, const std::string& user);
std::string FavoritesFolder(const std::string& homePath);

int ImportDesktop(CMyNodeList& list, const std::string& profilesFolder, const std::string& user);
// `nextSlot` is the next program-category slot; it goes up with each new category.
int ImportStartMenu(CMyNodeList& list, const std::string& profilesFolder, const std::string& user,
                    int& nextSlot, qb::IUserInterface* ui);
int AddProgramFiles(CMyNodeList& list, const std::string& folder, const std::string& category);
// `folder` is the Favorites folder, ending in '\'.
int ImportBrowserFavorites(CMyNodeList& list, const std::string& folder);
int ImportUrlFolder(CMyNodeList& list, const std::string& folder, const std::string& category);
// A new UrlItem from folder + file, or null when the file cannot be read.
CMyNode* ParseUrlFile(const std::string& folder, const std::string& file);

// Values of a ".url" line longer than this are cut.
constexpr size_t kUrlValueMax = 349;
