// Resource ids and texts, shared by the .rc file and the code.
#pragma once

#define IDS_SAVER_NAME 1
#define IDS_SETTINGS_FILE 2
#define TEXT_SAVER_NAME "Quorvane"
#define TEXT_SETTINGS_FILE "googoo.goo"

#define IDD_CONFIG 2003
#define IDC_SPEED_GROUP 101
#define IDC_SPEED_SCROLL 3
#define IDC_FAST_LABEL 103
#define IDC_SLOW_LABEL 104
#define IDC_CONFIG_OK 4
#define IDC_CONFIG_CANCEL 5

// The window class asks for this icon, which the file does not hold: the saver window has
// none. The file's own icon, which the shell shows, has another id.
#define IDI_SAVER_ICON 100
#define IDI_FILE_ICON 1
