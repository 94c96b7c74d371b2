// Telling the spool database apart from a device's other databases.
//
// Emulators and sync tools hand over a whole device as an archive of Palm
// databases, and each names the files its own way: HotSync writes
// "Fernquill_Spool_File.PDB", CloudpilotEmu the raw database name with its
// spaces plus ".pdb", pilot-xfer the name with '/', '=', LF and CR written as
// =2F, =3D, =0A and =0D. Every one of them keeps the database's own name in
// the first 32 bytes of its header, so a member is taken for the spool
// database when either name is "Fernquill Spool File", read loosely: case
// ignored, spaces and underscores alike, =XX escapes decoded.
//
// The archive itself is opened elsewhere (libzip in the tools, the browser's
// own code in the page); these functions see names and bytes only.
#ifndef FERNQUILL_SPOOL_DATABASE_NAME_H
#define FERNQUILL_SPOOL_DATABASE_NAME_H

#include <cstddef>

// The most bytes of a member that checkPalmDatabase() and
// isSpoolDatabaseMember() need: the header and the longest record list a
// 16-bit count allows (resource entries are 10 bytes). A caller may pass just
// the member's first bytes up to this many and get the same answer as for
// the whole member.
const size_t palmDatabasePrefixBytes = 78 + 65535 * 10;

// True when the file name (length bytes, not terminated) names the spool
// database: any folders (after '/' or '\') are dropped, then a ".pdb"
// extension in any case, and the rest must read "Fernquill Spool File". A
// name without the extension counts too, since a bare database name is how
// the database calls itself.
bool namesSpoolDatabase(const char* name, size_t length);

// 0 when the size bytes at data can be a Palm database: the 78-byte header
// is there and its record list fits after it. -1 when the header is cut
// short, -2 when the record list runs past the end.
int checkPalmDatabase(const unsigned char* data, size_t size);

// True when the member (its name in the archive, and its bytes or their
// first palmDatabasePrefixBytes) is a Palm database whose own name or file
// name names the spool database.
bool isSpoolDatabaseMember(const char* memberName, size_t nameLength, const unsigned char* data, size_t size);

#endif
