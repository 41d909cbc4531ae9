// Resource and command ids shared by res/app.rc and the code. Plain defines: the portable
// core may include this file too (it posts some of these commands through its seams).
#pragma once

// Main window children
#define IDC_RESULTS 18000
#define IDC_INFO_PANEL 18001
#define IDC_COMMAND_LINE 18002
#define IDC_SEND 18003
#define IDC_SCRIPT_LIST 18005
#define IDC_SCRIPT_RUN 18006
#define IDC_SCRIPT_STEP 18007
#define IDC_SCRIPT_CLOSE 18008

// Menu commands (menu and accelerators 109)
#define IDR_MAINMENU 109
#define IDI_APP 107
#define IDM_ABOUT 104
#define IDM_SAVE_TO_FILE 129
#define IDM_CONNECTION 32771
#define IDM_CLEAR_RESULTS 32773
#define IDM_UPGRADE_FIRMWARE 32774
#define IDM_DISCONNECT 32775
#define IDM_SCRIPT 32776
#define IDM_CONVERT_BINARY 32777
#define IDM_SHOW_TIMESTAMPS 32778
#define IDM_LOG_TO_FILE 32779
#define IDM_STOP_LOGGING 32780
#define IDM_RECONNECT_AUTO 32781

// Internal commands posted to the main window
#define CMD_APPLY_CONNECTED_STATE 122
#define CMD_FOCUS_COMMAND_LINE 123
#define CMD_RECALL_CLICKED_LINE 124
#define CMD_HISTORY_BACK 126
#define CMD_HISTORY_FORWARD 127
#define CMD_CANCEL_RECONNECT 130  // Esc while the lost link is tried again
#define CMD_LOG_FAILED 131        // a line could not be written to the session log

// Timer of the main window (reply poll and script tick)
#define IDT_MAIN_TIMER 1117

// About box
#define IDD_ABOUT 103
#define IDC_ABOUT_PRODUCT 110
#define IDC_ABOUT_VERSION 111
#define IDC_ABOUT_MAKER 1008

// Connect dialog
#define IDD_CONNECT 121
#define IDC_CONNECT_CONNECT 112
#define IDC_CONNECT_INTERFACE 113
#define IDC_CONNECT_PORT 114
#define IDC_CONNECT_BAUD 115
#define IDC_CONNECT_TEST 116
#define IDC_CONNECT_IP 117
#define IDC_CONNECT_PORT_LABEL 118
#define IDC_CONNECT_BAUD_LABEL 119
#define IDC_CONNECT_SAVE 120
#define IDC_CONNECT_FIND 1006
#define IDI_FIND 154

// Firmware files list (confirmation) and upgrade progress dialogs
#define IDD_FIRMWARE_FILES 151
#define IDC_FILES_TEXT 1001
#define IDC_FILES_ACCEPT 1000
#define IDD_UPGRADE 152
#define IDC_UPGRADE_LOG 1003
#define IDC_UPGRADE_PROGRESS 1004
#define IDC_UPGRADE_STATUS 1005
#define IDC_UPGRADE_START 1002
// Notifications the upgrade worker posts to dialog 152
#define UPN_FINISHED 125
#define UPN_PROGRESS 126
#define UPN_STATUS 127
#define UPN_LOG 128

// Instrument chooser (LAN search)
#define IDD_CHOOSE_INSTRUMENT 153
#define IDC_CHOOSE_LIST 1007
