// Identifiers of the resource script: templates, controls, menus, icons,
// bitmaps and strings of the main window, the tray and the small controls.
#pragma once

// Templates.
#define IDD_MAIN_DIALOG 102
#define IDD_ABOUTBOX 174
#define IDD_PROMPT 185

// Icons, bitmaps, menus.
#define IDR_MAINFRAME 128
#define IDR_TRAY_MENU 132
#define IDI_TRAY_FIRST 153
#define IDI_PROGRAM 154
#define IDI_HELP_BUTTON 202
#define IDI_PLAZA_FIRST 207
#define IDI_PLAZA_SECOND 208
#define IDB_MIN_BUTTON 130
#define IDB_CLOSE_BUTTON 132
#define IDB_MIN_BUTTON_HOT 135
#define IDB_CLOSE_BUTTON_HOT 136

// Strings.
#define IDS_ABOUTBOX 101
#define IDM_ABOUTBOX 0x0010

// Main window controls.
#define IDC_FOLDER_BUTTON 1004
#define IDC_HIDE_BUTTON 1005
#define IDC_EXIT_BUTTON 1007
#define IDC_SETTINGS_BUTTON 1009
#define IDC_OPEN_ALL_BROWSER 1031
#define IDC_BANNER 1059
#define IDC_LOGIN_BUTTON 1075
#define IDC_SKIN_BUTTON 1076
#define IDC_TOP_VISITED_BUTTON 1077
#define IDC_HELP_BUTTON 1091
#define IDC_FILE_BOX 1096
#define IDC_CHAT_BUTTON 1099

// About box controls.
#define IDC_SITE_LINK 1029
#define IDC_MAIL_LINK 1030
#define IDC_MAIL_TEXT 1031

// Progress prompt controls.
#define IDC_PROMPT_CANCEL 1056
#define IDC_PROMPT_PROGRESS 1078
#define IDC_PROMPT_TEXT 1079
#define IDC_PROMPT_OK 1080

// Tray menu commands.
#define ID_TRAY_CAPTURE 32808
#define ID_TRAY_SETTINGS 32809
#define ID_TRAY_ABOUT 32810
#define ID_TRAY_EXIT 32811
#define ID_TRAY_SHOW 32812
#define ID_TRAY_UPLOAD 32816
#define ID_TRAY_DOWNLOAD 32817
#define ID_TRAY_SYNC 32818

// Popup menus built in code: skins and the most visited items.
#define ID_SKIN_TITLE 3800
#define ID_SKIN_LAST 3801
#define ID_SKIN_FIRST 4000
#define ID_TOP_TITLE 3500
#define ID_TOP_FIRST 3501
#define ID_TOP_LAST 3538

// Context menu of the rich edit box.
#define ID_RICH_UNDO 5101
#define ID_RICH_CUT 5102
#define ID_RICH_COPY 5103
#define ID_RICH_PASTE 5104
#define ID_RICH_CLEAR 5105
#define ID_RICH_SELECT_ALL 5106
#define ID_RICH_FONT 5107

#include "panels_ids.h"
