#pragma once
// Identifiers shared by agent.rc and the Win32 windows: icons, dialog templates, controls and
// menu commands. Plain #defines, because the resource compiler reads this file too.

// Icons: the application's icon and its variant with the red mark of a failed sync.
#define IDI_AGENT 1
#define IDI_AGENT_ALERT 2

// The line-of-text prompt.
#define IDD_INPUT_TEXT 100
#define IDC_INPUT_PROMPT 101
#define IDC_INPUT_TEXT 102

// The settings dialog; IDOK saves, IDCANCEL closes unsaved.
#define IDD_SETUP 110
#define IDC_SETUP_HINT 111
#define IDC_SETUP_CONFIG 112
#define IDC_SETUP_AUTOSTART 113
#define IDC_SETUP_PASTE 114
#define IDC_SETUP_BOOTSTRAP 115

// The queue window; IDCANCEL closes it.
#define IDD_QUEUE 120
#define IDC_QUEUE_SUMMARY 121
#define IDC_QUEUE_LIST 122
#define IDC_QUEUE_REFRESH 123
#define IDC_QUEUE_CLEAR_QUEUED 124
#define IDC_QUEUE_CLEAR_ERRORS 125
#define IDC_QUEUE_CLEAR_ALL 126

// The main window's controls.
#define IDC_MAIN_STATUS 200
#define IDC_MAIN_QUEUE 201
#define IDC_MAIN_SCALES 202
#define IDC_MAIN_SETTINGS 203
#define IDC_MAIN_MINIMIZE 204
#define IDC_MAIN_LOG 205

// The tray menu's commands; the scales items of both menus are IDM_SCALES_FIRST + brand.
#define IDM_SHOW 300
#define IDM_STATUS 301
#define IDM_LAST_SYNC 302
#define IDM_SETTINGS 303
#define IDM_QUEUE 304
#define IDM_BOOTSTRAP 305
#define IDM_OPEN_UTM 306
#define IDM_EXIT 307
#define IDM_SCALES_FIRST 320
#define IDM_SCALES_LAST 339
