// Identifiers of the resource script: templates, controls, menus, icons, strings.
#pragma once

#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME 128

#include "panels_ids.h"
