// Hands a fuzzer's input to the spool reader as a file.
//
// The spool stream opens files by path, as the print job does, so each input
// is written to one file that belongs to this process (in /dev/shm where
// there is one, so no disk is involved) and opened from there. The file is
// rewritten for every input and removed when the process exits.
#ifndef FERNQUILL_FUZZ_FUZZ_INPUT_H
#define FERNQUILL_FUZZ_FUZZ_INPUT_H

#include <cstddef>
#include <cstdint>

#include "spool/spool_stream.h"

// The image memory limit the fuzzers run with. Under AddressSanitizer every
// large allocation costs an eighth of its size again in shadow memory written
// on allocation and on release, so the default limit (the format's largest
// bitmap, 512 MiB) would make each damaged image header cost tens of
// milliseconds and the fuzzer crawl. 16 MiB is sixteen 300 dpi pages and
// keeps both sides of the limit in reach; the largest bitmaps are covered by
// the damaged page tests at the default limit.
const size_t fuzzImageMemoryLimit = static_cast<size_t>(16) << 20;

// Writes the bytes to this process's input file and opens a stream over it.
// A file that can't be written or opened is a fault of the machine, not of
// the input: the process aborts rather than fuzz nothing.
SpoolStream* openFuzzInput(const uint8_t* data, size_t size);

// Checks a property the code under test promises; a broken one aborts with
// the message, so the fuzzer keeps the input as a crash.
void fuzzCheck(bool holds, const char* what);

#endif
