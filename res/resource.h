// Resource numbers shared by the resource script and the code.
#pragma once

// Query dialog.
#define IDD_QUERY 550
#define IDC_QUERY_SERVER 551
#define IDC_QUERY_REMAINING 552

// Main dialog.
#define IDD_MAIN 512
#define IDC_CHECK 1000
#define IDC_SERVER_TIME 1001
#define IDC_PC_TIME 1003
#define IDC_VOICE 1004
#define IDC_SETTINGS 1005
#define IDC_ADJUST 1013
#define IDC_SERVER 1034
#define IDC_PROTOCOL 1035
// Status line.
#define IDC_IND_AUTO_EXIT 1038
#define IDC_IND_LOGFILE 1039
#define IDC_IND_ADJUST_AT 1040
#define IDC_IND_BEEP 1041
#define IDC_IND_TIMEOUT 1042
#define IDC_IND_MARKER 1043
#define IDC_IND_ICONIC 1044
#define IDC_IND_RETRY_COUNT 1047
#define IDC_IND_RETRY 1049
#define IDC_IND_RETRY_INTERVAL 1050
#define IDC_IND_AT 1051

// The system menu's entry for the about box.
#define IDM_ABOUTBOX 0x0010

// About box.
#define IDD_ABOUTBOX 510
#define IDC_ABOUT_NAME 1051
#define IDC_ABOUT_CREDIT 1053
#define IDC_ABOUT_FOOTER 1054

// Notice box.
#define IDD_NOTICE 522
#define IDC_NOTICE_UPPER 1018
#define IDC_NOTICE_LOWER 1019

// Icons: the program's, and the Adjust button's image.
#define IDI_MAIN 100
#define IDI_ADJUST 501
