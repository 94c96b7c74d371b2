// record_command: stands in for a Windows tool the setup runs (icacls), whose
// Wine version does nothing. Appends its whole command line, and a line end,
// to the file FERNQUILL_RECORD_FILE names, and exits with the number in
// FERNQUILL_RECORD_EXIT (0 without it). Without FERNQUILL_RECORD_FILE it
// only exits.
#include <windows.h>

#include <cstdlib>
#include <cstring>

int main()
{
    const char* record = std::getenv("FERNQUILL_RECORD_FILE");
    if (record != nullptr) {
        HANDLE file = CreateFileA(record, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return 100;
        }
        const char* line = GetCommandLineA();
        DWORD written = 0;
        WriteFile(file, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
        WriteFile(file, "\n", 1, &written, nullptr);
        CloseHandle(file);
    }
    const char* exitCode = std::getenv("FERNQUILL_RECORD_EXIT");
    return exitCode != nullptr ? std::atoi(exitCode) : 0;
}
