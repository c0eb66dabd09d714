// Resource and control identifiers of the program's dialogs.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDS_MEMORY_QUESTION 102
#define IDD_ZARVEX_DIALOG 102
#define IDR_MAINFRAME 128

#define IDM_ABOUTBOX 0x0010

// Main dialog controls (IDOK = capture, IDCANCEL = exit).
#define IDC_DELETE 3
#define IDC_SAVE 4
#define IDC_CLIP_LIST 1000
#define IDC_PRE_TIME 1002
#define IDC_PRE_TIME_TEXT 1003
#define IDC_END_TIME_TEXT 1004
#define IDC_END_TIME 1005
#define IDC_VIDEO_DEVICE 1006
#define IDC_SOUND_DEVICE 1007
#define IDC_VIDEO_FORMAT 1011
#define IDC_FORMAT_DETAIL 1012
#define IDC_TOPMOST 1015
#define IDC_PREV 1016
#define IDC_NEXT 1017
#define IDC_DEVICE_GROUP 1018
#define IDC_USED_MEMORY 1019
#define IDC_FREE_MEMORY 1020
#define IDC_PLAY 1021
#define IDC_STOP 1023
#define IDC_STEP_BACK 1024
#define IDC_VOLUME 1025
#define IDC_VOLUME_TEXT 1026
#define IDC_SOUND_DELAY 1027
#define IDC_SOUND_DELAY_SPIN 1028
#define IDC_STEP_FORWARD 1029
#define IDC_POSITION 1030
#define IDC_PAUSE 1031

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
