// Resource ids and version numbers, shared by spooler.rc and the window code.
//
// Both the resource compiler (rc.exe, windres) and the C++ compiler read this
// file, so it holds nothing but #defines: no declarations, no <windows.h>.
// The version and publisher strings live here once, so the version resource
// and the About box can't drift apart.
#ifndef FERNQUILL_APP_RESOURCE_H
#define FERNQUILL_APP_RESOURCE_H

// The main window's menu and icon.
#define IDR_MAINMENU 101
#define IDI_SPOOLER 102

// Menu commands, as WM_COMMAND reports them in the low word of wParam.
#define IDM_EXIT 40001
#define IDM_ABOUT 40002
#define IDM_SHOW_PRINT_DIALOG 40003  // "Show dialog before printing"
#define IDM_SCREEN_ONLY 40005        // "Print to screen only"
#define IDM_SHOW_STATUS 40006
#define IDM_PRINT_LAST_AGAIN 40007   // "Print last job again"
#define IDM_PRINT_SPOOL_FILE 40008   // "Print a spool file..."

// GetFileVersionInfo() looks the version block up by id 1 (VS_VERSION_INFO in
// the Windows headers, which this file does not include).
#define IDV_VERSIONINFO 1

// The version comes from the build (the project's version in CMakeLists.txt):
// FERNQUILL_VERSION_BINARY is the numeric FILEVERSION, FERNQUILL_VERSION_TEXT
// what people read.
#include "fernquill_version.h"
#define SPOOLER_VERSION_BINARY FERNQUILL_VERSION_BINARY
#define SPOOLER_VERSION_TEXT FERNQUILL_VERSION_TEXT

#define SPOOLER_PRODUCT_NAME "Fernquill Desktop Spooler"
#define SPOOLER_PUBLISHER "The Fernquill Desktop Spooler developers"
#define SPOOLER_COPYRIGHT "Copyright (C) 2026 the Fernquill Desktop Spooler developers"
#define SPOOLER_EXE_NAME "FernquillSpooler.exe"

#endif
