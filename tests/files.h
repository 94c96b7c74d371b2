// Files the tests read back: what a tool or a printer wrote.
#ifndef FERNQUILL_TESTS_FILES_H
#define FERNQUILL_TESTS_FILES_H

#include <string>

// Every byte of the file at path, as it is on disk; "" if it can't be read.
std::string readWholeFile(const std::string& path);

#endif
