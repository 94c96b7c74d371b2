// Spool files the benchmarks share, made with the tests' builder.
#ifndef FERNQUILL_BENCH_BENCH_FILES_H
#define FERNQUILL_BENCH_BENCH_FILES_H

#include "tests/spool_builder.h"

// Twelve pages at a printer's 300 dpi: text only, an image scaled up from
// 72 dpi (raw, then compressed), and text followed by an image on the same
// page.
spooltest::Bytes makeMixedSpoolFile();

#endif
