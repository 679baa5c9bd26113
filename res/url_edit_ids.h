// The item editor's template and controls. Included from url_edit.rc and
// from the editor's code (plain #defines, readable by rc).
#pragma once

#define IDD_URL_INFO_EDIT 167

#define IDC_EDIT_CATEGORY 101       // drop-down list of the web categories
#define IDC_EDIT_NAME 1010
#define IDC_EDIT_ADDRESS 1011
#define IDC_EDIT_NOTE 1013
#define IDC_EDIT_SAVE 1014
#define IDC_EDIT_CANCEL 1015
#define IDC_EDIT_CHANGE_ICON 1017
#define IDC_EDIT_ICON 1018          // flat skin button showing the icon
#define IDC_EDIT_ICON_PATH 1019
#define IDC_EDIT_VISITS 1060
#define IDC_EDIT_LAST_VISIT 1066
#define IDC_EDIT_SCRIPT 1085
#define IDC_EDIT_CIRCLE 1107
