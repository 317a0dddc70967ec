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

// The scales dialog; IDOK saves, IDCANCEL closes unsaved (or stops a running search).
#define IDD_SCALES 130
#define IDC_SCALES_HINT 131
#define IDC_SCALES_ENABLED 132
#define IDC_SCALES_DIR_LABEL 133
#define IDC_SCALES_DIR 134
#define IDC_SCALES_BROWSE 135
#define IDC_SCALES_FILE_LABEL 136
#define IDC_SCALES_FILE 137
#define IDC_SCALES_BROWSE_FILE 138
#define IDC_SCALES_POLL_LABEL 139
#define IDC_SCALES_POLL 140
#define IDC_SCALES_MAC_LABEL 141
#define IDC_SCALES_MAC 142
#define IDC_SCALES_LIST 143
#define IDC_SCALES_SEARCH 144
#define IDC_SCALES_SEARCH_BAR 145
#define IDC_SCALES_FIND 146
#define IDC_SCALES_STOP 147
#define IDC_SCALES_ADD 148
#define IDC_SCALES_REMOVE 149
#define IDC_SCALES_LOAD_NOW 150

// The preparation window; IDCANCEL is its close button, which asks first while an install runs.
#define IDD_PREPARATION 160
#define IDC_PREPARATION_HINT 161
#define IDC_PREPARATION_MANIFEST 162
#define IDC_PREPARATION_LIST 163
#define IDC_PREPARATION_PROGRESS 164
#define IDC_PREPARATION_BAR 165
#define IDC_PREPARATION_REFRESH 166
#define IDC_PREPARATION_INSTALL 167
#define IDC_PREPARATION_INSTALL_ALL 168
#define IDC_PREPARATION_SILENT 169

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
