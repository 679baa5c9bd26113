// The pictures of the panels' menus: which image of the strip IDB_MENU_IMAGES
// (drawn by scripts/make-art.sh, in this order) each command shows.
#pragma once
#include <windows.h>

#include "skin/bcmenu_win32.h"

#include "../../res/panels_ids.h"

namespace panels {

enum MenuImageIndex {
  kImageNewWindow, kImageOffline, kImageCircle, kImageModify, kImageDelete, kImageRefresh, kImageRecord,
  kImageNewCategory, kImageRename, kImageExport, kImageImport, kImageOpenAll, kImageSearch, kImageLeaveCircle,
  kMenuImageCount
};

inline const qb::MenuImage kMenuImages[] = {
    // The item menu.
    {ID_OPEN_NEW_WINDOW, kImageNewWindow},
    {ID_VIEW_OFFLINE, kImageOffline},
    {ID_ENTER_ITEM_CIRCLE, kImageCircle},
    {ID_EDIT_ITEM, kImageModify},
    {ID_DELETE_ITEM, kImageDelete},
    {ID_REFRESH_ICON, kImageRefresh},
    {ID_RECORD_SCRIPT, kImageRecord},
    // The category menu.
    {ID_ENTER_CIRCLE, kImageCircle},
    {ID_LEAVE_CIRCLE, kImageLeaveCircle},
    {ID_SEARCH_POSTS, kImageSearch},
    {ID_SEARCH_CHATROOMS, kImageSearch},
    {ID_SEARCH_TOPICS, kImageSearch},
    {ID_SEARCH_MEDLEY, kImageSearch},
    {ID_RENAME_CATEGORY, kImageRename},
    {ID_DELETE_CATEGORY, kImageDelete},
    {ID_EXPORT_CATEGORY, kImageExport},
    {ID_OPEN_ALL, kImageOpenAll},
    // The empty-slot menu.
    {ID_NEW_CATEGORY, kImageNewCategory},
    {ID_IMPORT_CATEGORY, kImageImport},
};
inline constexpr int kMenuImageMapSize = sizeof kMenuImages / sizeof kMenuImages[0];

}  // namespace panels
