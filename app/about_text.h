// The text of the About box (the File menu's "About Fernquill Spooler").
#ifndef FERNQUILL_APP_ABOUT_TEXT_H
#define FERNQUILL_APP_ABOUT_TEXT_H

// Plain ANSI text with "\n" line breaks, ready for MessageBoxA.
extern const char aboutText[];

#endif
