// The spool file inside a zip archive.
//
// Hand-held emulators and backup tools export the device's databases as a
// zip archive. The print job is the member, in any folder, that is a Palm
// database and whose file name or own database name reads "Fernquill Spool
// File" (see spool/spool_database_name.h): HotSync's
// "Fernquill_Spool_File.PDB" and CloudpilotEmu's "Fernquill Spool File.pdb"
// alike. The spool reader works on a file, so the member is copied out to a
// temporary file, read through libzip, which checks its CRC.
//
// An archive is untrusted: its member may claim any size, or inflate to far
// more than it claims. Only each member's header and record list are read
// into memory; the copy stops at maxSpoolMemberBytes, so a hostile archive
// costs at most that much temporary disk.
#ifndef FERNQUILL_TOOLS_ZIP_MEMBER_H
#define FERNQUILL_TOOLS_ZIP_MEMBER_H

#include <cstddef>
#include <cstdint>

extern const char spoolMemberName[];

// The largest spool file taken out of an archive: 256 MiB, the whole memory
// of the largest Palm OS hand-helds, many times any print job.
const uint64_t maxSpoolMemberBytes = static_cast<uint64_t>(256) << 20;

// Copies the archive's spool file into a new temporary file and puts its
// path in temporaryPath; the caller removes it. memberName, when not
// nullptr, names the member to take (its path in the archive, in any case)
// instead of looking for the spool file. Returns 0, or -1 with one line on
// stderr after "tool: " (no such member, with how many were skipped as not
// Palm databases; several; or one that can't be read or is too large),
// leaving no temporary file.
int extractSpoolMember(const char* tool, const char* archive, const char* memberName, char* temporaryPath,
                       size_t capacity);

#endif
