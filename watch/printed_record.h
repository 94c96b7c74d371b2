// What was printed in a backup folder, shared by every account's spooler.
//
// A folder's claim (folder_claim.h) passes from one account's spooler to
// another's as they log on and off, and the one taking it over must know
// which job the other already printed. So the spooler holding a folder
// keeps, in a small file in that very folder, the last-write time of the
// last spool file it printed whole. The one taking the folder over prints
// the spool file only when its time differs. A spooler killed in the middle
// of a job has recorded nothing yet, so the next holder prints that job
// whole.
//
// The file lives in the folder it speaks for, so only someone who can
// write that folder, and could as well write a spool file there, can change
// it, and what they write can do no more than make that folder's job print
// or not. It is one line of text, written whole under another name and
// renamed over the old one: a spooler that dies while writing it leaves the
// old record, never half a new one. Anything else found there (damaged,
// cut short, nonsense, a folder) reads as no record at all.
#ifndef FERNQUILL_WATCH_PRINTED_RECORD_H
#define FERNQUILL_WATCH_PRINTED_RECORD_H

#include <windows.h>

extern const char* const printedRecordName;  // "Fernquill_Printed.txt"

// Reads the record of folder into *written: 0, or -1 when there is none or
// it can't be read as one.
int readPrintedRecord(const char* folder, FILETIME* written);

// Records that the spool file last written at `written` was printed. 0, or
// -1 when the folder can't be written (the record is then as it was).
int writePrintedRecord(const char* folder, const FILETIME& written);

#endif
