#include "tests/spooler_process.h"

#include <cstring>

#include "tests/spool_builder.h"

namespace {

struct WindowSearch {
    DWORD process;
    HWND found;
};

BOOL CALLBACK matchSpoolerWindow(HWND window, LPARAM context)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(context);
    DWORD process = 0;
    char className[64] = "";
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && GetClassNameA(window, className, sizeof(className)) > 0 &&
        std::strcmp(className, "FQSpoolClass") == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

HWND findSpoolerWindow(DWORD process)
{
    WindowSearch search = {process, nullptr};
    EnumWindows(matchSpoolerWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool beginProgramTest(std::string* root)
{
    clearPrintedFiles();
    removeRegistryValues();
    *root = spooltest::uniqueTempPath();
    return CreateDirectoryA(root->c_str(), nullptr) != FALSE;
}

void endProgramTest(const std::string& root)
{
    removeRegistryValues();
    removeFolderTree(root);
    clearPrintedFiles();
}
