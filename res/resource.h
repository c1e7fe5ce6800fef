// Resource identifiers, shared by the resource script and the code.
#pragma once

#define IDS_APP_TITLE 103
#define IDC_MAIN_CLASS 109
#define IDI_LARGE 107
#define IDI_SMALL 108
#define IDC_MAIN_MENU 109
#define IDC_MAIN_ACCEL 109
#define IDD_ABOUTBOX 103
#define IDD_PROGRESS 122
#define IDR_FIRMWARE 129
#define IDC_PROGRESS_BAR 1001
#define IDC_PROGRESS_TEXT 1002
#define IDM_ABOUT 104
#define IDM_EXIT 105
