// Resource identifiers of the update dialog and the About box.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_START 1000
#define IDC_CANCEL_RUN 1001
#define IDC_EXIT 1002
#define IDC_PORT 1003
#define IDC_PROGRESS 1004
#define IDC_PORT_LABEL 1005
#define IDC_PERCENT 1006
#define IDC_STATUS 1007
#define IDC_CAUTION 1009

#define IDM_ABOUTBOX 0x0010

#ifndef ID_HELP
#define ID_HELP 0xE146
#endif
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
