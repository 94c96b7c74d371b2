// The program: start-up, the message loop, the main window and its commands.
#ifndef FERNQUILL_APP_SPOOLER_APP_H
#define FERNQUILL_APP_SPOOLER_APP_H

#include <windows.h>

#include "render/draw_surface.h"

extern const char* const spoolerClassName;  // "FQSpoolClass"

// The main window, once created; process-wide.
extern HWND mainWindow;

// The program's entry: returns the exit code, 0 after a quit message, 1 if
// start-up failed. A spooler already running in this session comes first:
// its window is brought up and the result is 0. commandLine is WinMain's,
// the arguments only (see isLogonStart); a start at log-on finding no
// install folder ends quietly with 0.
int runSpooler(HINSTANCE instance, int showCommand, const char* commandLine);

// Whether the command line is the log-on entry's "/logon", in any letter
// case and with blanks around it. The program's only argument: anything
// else is a start by hand.
bool isLogonStart(const char* commandLine);

// Loads the cursors, registers the window class, creates the main window
// minimized, finds the users' folders and starts the spool timer. Returns 0,
// -1 (class registration failed), -2 (no window) or -3 (no install folder).
// quiet: discovery shows no box (a start at log-on).
int initApplication(HINSTANCE instance, int showCommand, bool quiet = false);

LRESULT CALLBACK mainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Draws the status view: the install folder, the watched users and the two
// counters, then, if any user is not watched, "Not watched:" and each such
// user with the reason in a word ("gone", "failed", "other user"), in the
// surface's current font.
// While the session is away from the console (user_watch.h), a sentence
// says so below the counters.
void paintStatus(DrawSurface* surface);

// "This session is away: other users' spoolers print."
extern const char* const awaySentence;

#endif
