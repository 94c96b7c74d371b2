// The program: start-up, the message loop, the main window and its commands.
#ifndef FERNQUILL_APP_SPOOLER_APP_H
#define FERNQUILL_APP_SPOOLER_APP_H

#include <windows.h>

#include "render/draw_surface.h"

extern const char* const spoolerClassName;  // "FQSpoolClass"

// The main window, once created; process-wide.
extern HWND mainWindow;

// The program's entry: returns the exit code, 0 after a quit message, 1 if
// start-up failed. A spooler already running on the machine comes first: in
// this session its window is brought up and the result is 0; in another one
// the user is told and the result is 1.
int runSpooler(HINSTANCE instance, int showCommand);

// Loads the cursors, registers the window class, creates the main window
// minimized, finds the users' folders and starts the spool timer. Returns 0,
// -1 (class registration failed, or no install folder) or -2 (no window).
int initApplication(HINSTANCE instance, int showCommand);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws the status view: the install folder, the watched users and the two
// counters, then, if any user is not watched, "Not watched:" and each such
// user with the reason in a word ("gone", "failed", "other user"), in the
// surface's current font.
void paintStatus(DrawSurface* surface);

#endif
