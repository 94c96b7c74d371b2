// The spool file as a job reads it: read whole into memory when the job
// starts, so that nothing holds the file while the job prints.
//
// A job may print for minutes, and HotSync may deliver the next job
// meanwhile, by writing the file again, or by deleting or renaming it and
// making a new one. Had the job kept the file open, that delivery would
// fail, or the job would go on reading the new file's bytes halfway
// through its pages. So the file is opened for a moment, shared for
// reading, writing and deleting, read whole and let go; the job prints the
// copy, and the delivery, once its watch fires, is a job of its own after
// this one.
#ifndef FERNQUILL_JOBS_SPOOL_SNAPSHOT_H
#define FERNQUILL_JOBS_SPOOL_SNAPSHOT_H

#include "spool/spool_stream.h"

// A stream over the file's bytes as they were at one moment; nullptr when
// the file can't be opened or read, or is larger than
// maxSpoolBytesInMemory. Close it with closeSpoolStream().
SpoolStream* openSpoolSnapshot(const char* path);

#endif
