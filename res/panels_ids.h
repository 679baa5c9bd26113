// Identifiers of the panels' templates, controls and menus. Included from
// resource.h and from the panels' code (plain #defines, readable by rc).
#pragma once

// Templates: the category panel; the item panel (also the program folder's).
#define IDD_TAB_DIALOG 155
#define IDD_URL_DIALOG 138

// Icons and cursors.
#define IDI_ITEM_HOT 153
#define IDI_ITEM_DEFAULT 154
#define IDC_DRAG_CURSOR 175
#define IDC_BUTTON_CURSOR 176

// The images of the panels' menus: a strip of 16x16 pictures, magenta transparent.
#define IDB_MENU_IMAGES 191

// Menus: the category menu on every tab, the item menu on every item button.
#define IDR_ITEM_MENU 163
#define IDR_CATEGORY_MENU 164

// Controls.
#define IDC_FIRST_TAB 1801          // 1801..1844, one per tab slot
#define IDC_FIRST_ITEM 1201         // 1201..1230, one per item slot
#define IDC_FIRST_PROGRAM 1501      // 1501..1530, program-folder buttons
#define IDC_RENAME_EDIT 2500
#define IDC_NEW_CATEGORY_EDIT 2501
// The find box over the item panel: its typing field, result list and the
// line shown when nothing is found.
#define IDC_FIND_EDIT 2601
#define IDC_FIND_LIST 2602
#define IDC_FIND_NONE 2603
#define IDC_FIRST_CHOOSER_TAB 2101  // 2101..2144, the category chooser's tabs
#define IDC_MAIN_BROWSER 1031       // the main window's small embedded browser

// Category menu.
#define ID_ENTER_CIRCLE 32881
#define ID_LEAVE_CIRCLE 32885
#define ID_SEARCH_POSTS 32874
#define ID_SEARCH_CHATROOMS 32876
#define ID_SEARCH_TOPICS 32875
#define ID_SEARCH_FORUM 32868
#define ID_SEARCH_BLOG 32835
#define ID_SEARCH_RSS 32837
#define ID_SEARCH_BT 32864
#define ID_SEARCH_SHOPPING 32855
#define ID_SEARCH_TAOBAO 32839
#define ID_SEARCH_MP3 32847
#define ID_SEARCH_FLASH 32851
#define ID_SEARCH_VIDEO 32887
#define ID_SEARCH_GAMES 32857
#define ID_SEARCH_MAP 32853
#define ID_SEARCH_SOFTWARE 32848
#define ID_SEARCH_TRADES 32859
#define ID_SEARCH_TRADE 32870
#define ID_SEARCH_DICT 32843
#define ID_SEARCH_MEDLEY 32866
#define ID_RENAME_CATEGORY 32777
#define ID_DELETE_CATEGORY 32778
#define ID_EXPORT_CATEGORY 32828
#define ID_OPEN_ALL 32796
#define ID_CATEGORY_TITLE 32860

// Empty-slot menu (built in code).
#define ID_HOTKEY_TEXT 171
#define ID_NEW_CATEGORY 32782
#define ID_IMPORT_CATEGORY 2503

// The category chooser's empty-slot menu (built in code).
#define ID_CHOOSER_HOTKEY_TEXT 3400
#define ID_CHOOSER_NEW_CATEGORY 3401

// Item menu.
#define ID_ITEM_TITLE 32784
#define ID_OPEN_NEW_WINDOW 32830
#define ID_VIEW_OFFLINE 32878
#define ID_ENTER_ITEM_CIRCLE 32883
#define ID_EDIT_ITEM 32780
#define ID_DELETE_ITEM 32779
#define ID_REFRESH_ICON 32826
#define ID_RECORD_SCRIPT 32819
