// The login dialog's template and controls.
#pragma once
#define IDD_LOGIN 184
#define IDC_LOGIN_USER 1054
#define IDC_LOGIN_REMEMBER 1069
#define IDC_LOGIN_INVISIBLE 1070
#define IDC_LOGIN_PASSWORD 1071
#define IDC_LOGIN_WIZARD 1072
#define IDC_LOGIN_OK 1073
#define IDC_LOGIN_CANCEL 1074
