// Resource ids of the store program.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_PXSTORE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_SHOCKWAVEFLASH1 1000
#define IDC_BUILD_TEXT 1002
#define IDM_ABOUTBOX 0x0010
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
