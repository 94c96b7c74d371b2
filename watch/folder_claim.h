// Who prints a backup folder.
//
// Every Windows account that logs on runs a spooler of its own, and one
// Palm Desktop install folder may be shared by all of them. Only one of
// them may print a given backup folder, or each job would print once per
// account. A spooler therefore claims each folder it watches with a named
// kernel object in the Global namespace, which every session sees. The
// object lives exactly as long as the spooler holds its handle: when that
// spooler ends, however it ends, the name is free again.
#ifndef FERNQUILL_WATCH_FOLDER_CLAIM_H
#define FERNQUILL_WATCH_FOLDER_CLAIM_H

#include <windows.h>

// "Global\FernquillSpoolFolder-" and 16 hex digits, with its terminator.
const int folderClaimNameSize = 48;

// The claim's name for folder (a full path) into name (folderClaimNameSize
// bytes): the FNV-1a 64 hash of the path in lower case, so that any spelling
// of one folder gives one name. -1 if the path is longer than 511 characters.
int folderClaimName(const char* folder, char* name);

// Claims folder. Returns 0 with the claim's handle in *claim; -1 when another
// spooler holds it (the object exists, or another account's security keeps
// us from opening it), *claim then nullptr; -2 if no object could be made.
int claimFolder(const char* folder, HANDLE* claim);

// Gives a claim back (nullptr is let be) and sets it to nullptr.
void releaseFolderClaim(HANDLE* claim);

#endif
