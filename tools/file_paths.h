// Paths as the tools take them on the command line. A slash separates
// folders everywhere; on Windows so do a backslash and the colon after a
// drive letter ("C:job.PDB" is job.PDB in drive C's current folder).
#ifndef FERNQUILL_TOOLS_FILE_PATHS_H
#define FERNQUILL_TOOLS_FILE_PATHS_H

#include <cstddef>

bool isPathSeparator(char c);

// The name after the path's last separator: "x/job.PDB" -> "job.PDB".
const char* pathFileName(const char* path);

// The file name without its folder and extension: "C:\x\job.PDB" -> "job"
// (on Windows). A name that starts with its only dot keeps it. Returns 0, or
// -1 when it does not fit into capacity.
int pathBaseName(const char* path, char* name, size_t capacity);

// The path with its extension replaced, or added where it has none:
// ("x/job.PDB", ".pdf") -> "x/job.pdf". Returns 0, or -1 when it does not fit.
int pathWithExtension(const char* path, const char* extension, char* result, size_t capacity);

// name inside folder, with a separator between them unless folder ends in
// one. Returns 0, or -1 when it does not fit.
int pathInFolder(const char* folder, const char* name, char* result, size_t capacity);

#endif
