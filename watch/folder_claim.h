// Who prints a backup folder.
//
// Every Windows account that logs on runs a spooler of its own, and one
// Palm Desktop install folder may be shared by all of them. Only one of
// them may print a given backup folder, or each job would print once per
// account. A spooler therefore claims each folder it watches with a named
// kernel object in the Global namespace, which every session sees. The
// object lives exactly as long as the spooler holds its handle: when that
// spooler ends, however it ends, the name is free again.
//
// Each account builds the folder's path from its own registry value, so
// one folder may be spelled many ways: with a trailing separator, a short
// 8.3 name, a mapped drive or its \\server\share name, a subst letter. The
// claim is therefore named from what the file system says the folder is,
// its volume's serial number and its file index, never from the path.
#ifndef FERNQUILL_WATCH_FOLDER_CLAIM_H
#define FERNQUILL_WATCH_FOLDER_CLAIM_H

#include <windows.h>

// Which folder a path named: its volume and file index, which a folder made
// again under the same name doesn't keep.
struct FolderIdentity {
    DWORD volume;
    DWORD indexHigh;
    DWORD indexLow;
    FILETIME created;  // looked at first: reading the index means opening the folder
};

// "Global\FernquillSpoolFolder-", 8 hex digits of the volume, "-" and 16 of
// the file index, with its terminator.
const int folderClaimNameSize = 56;

// Reads the identity of the folder at path, opening it for a moment with
// every sharing mode. Returns 0, or -1 when it can't be opened or is not a
// folder.
int readFolderIdentity(const char* path, FolderIdentity* identity);

// The claim's name for a folder of that identity into name
// (folderClaimNameSize bytes).
void folderClaimName(const FolderIdentity& identity, char* name);

// The claim's name for the folder at path; -1 if it can't be told which
// folder that is.
int folderClaimNameAt(const char* folder, char* name);

// Claims the folder. Returns 0 with the claim's handle in *claim; -1 when
// another spooler holds it (the object exists, or another account's
// security keeps us from opening it), *claim then nullptr; -2 if no object
// could be made (or, for a path, the folder can't be told).
int claimFolder(const FolderIdentity& identity, HANDLE* claim);
int claimFolderAt(const char* folder, HANDLE* claim);

// Gives a claim back (nullptr is let be) and sets it to nullptr.
void releaseFolderClaim(HANDLE* claim);

#endif
