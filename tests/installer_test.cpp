// The setup program, installed the way an administrator deploys it: silently
// (/S), into a Wine prefix of its own with the PDF test printer; once also
// page by page, as a user clicks through it. The test
// reads what the setup left behind through the Win32 API (files, the
// machine's registry in its own view, the Start menu shortcut), starts the
// installed program the way Windows does at log-on, and plays HotSync to it.
//
// scripts/test builds the setup (scripts/lib.sh buildSetup) and names it in
// FERNQUILL_SETUP, as a Unix path. Every test starts with nothing installed
// and leaves nothing installed. The same tests run as a 64-bit program in a
// 64-bit prefix (the setup's 64-bit branch) and as a 32-bit program in a
// 32-bit prefix (its 32-bit branch).
//
// The uninstaller, run as Programs and Features runs it, copies itself to the
// temp folder, starts the copy and returns at once; the copy removes the
// Programs and Features entry last, so the tests wait for that entry to go.
#include <gtest/gtest.h>

#include <windows.h>
#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/resource.h"
#include "tests/files.h"
#include "tests/spool_builder.h"
#include "tests/spooler_process.h"
#include "tests/win_test_support.h"
#include "watch/spool_poll.h"
#include "watch/user_watch.h"

using namespace spooltest;

namespace {

const char* const uninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\FernquillSpooler";
const char* const uninstallRoot = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char* const runKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const runValue = "FernquillSpooler";
const char* const wineOverridesKey = "Software\\Wine\\DllOverrides";
const char* const wineAppDefaultsKey = "Software\\Wine\\AppDefaults";
const char* const sessionManagerKey = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char* const pendingRenamesValue = "PendingFileRenameOperations";
// Where the tests run a spooler that the setup can't see, as it can't see
// one in another user's session: on a desktop of its own, whose windows
// FindWindow on this one doesn't find.
const char* const otherDesktopName = "FernquillOtherSession";

const int setupTimeoutMs = 120000;
const int startTimeoutMs = 30000;
const int deliveryTimeoutMs = static_cast<int>(spoolTimerPeriod) + 60000;

std::string setupPath()
{
    const char* path = std::getenv("FERNQUILL_SETUP");
    return path != nullptr ? windowsPathOf(path) : "";
}

// KEY_WOW64_64KEY reads the 64-bit view on 64-bit Windows, where the setup
// writes; 32-bit Windows ignores it.
bool readString(const char* key, const char* name, std::string* value, REGSAM view = KEY_WOW64_64KEY)
{
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) {
        return false;
    }
    char buffer[1024];
    DWORD size = sizeof(buffer) - 1;
    DWORD type = 0;
    LONG result = RegQueryValueExA(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(opened);
    if (result != ERROR_SUCCESS || type != REG_SZ) {
        return false;
    }
    buffer[size] = '\0';
    *value = buffer;
    return true;
}

DWORD readNumber(const char* key, const char* name)
{
    HKEY opened;
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) == ERROR_SUCCESS) {
        RegQueryValueExA(opened, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size);
        RegCloseKey(opened);
    }
    return value;
}

bool keyExists(const char* key, REGSAM view = KEY_WOW64_64KEY)
{
    HKEY opened;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(opened);
    return true;
}

// The binary type (GetBinaryType) of programs for this Windows: the setup
// must install the 64-bit program on 64-bit Windows.
DWORD nativeBinaryType()
{
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    return system.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64 ? SCS_64BIT_BINARY : SCS_32BIT_BINARY;
}

// The Programs and Features entries that carry our name, in both registry
// views where there are two.
int entriesNamed(const std::string& displayName)
{
    std::vector<REGSAM> views = {KEY_WOW64_64KEY};
    if (nativeBinaryType() == SCS_64BIT_BINARY) {
        views.push_back(KEY_WOW64_32KEY);
    }
    int found = 0;
    for (REGSAM view : views) {
        HKEY root;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstallRoot, 0, KEY_READ | view, &root) != ERROR_SUCCESS) {
            continue;
        }
        char name[256];
        for (DWORD i = 0; RegEnumKeyA(root, i, name, sizeof(name)) == ERROR_SUCCESS; i++) {
            std::string shown;
            if (readString((std::string(uninstallRoot) + "\\" + name).c_str(), "DisplayName", &shown, view) &&
                shown == displayName) {
                found++;
            }
        }
        RegCloseKey(root);
    }
    return found;
}

// Runs a command line and waits for it; its exit code, or -1.
int runAndWait(const std::string& commandLine)
{
    DWORD exitCode = 0;
    return runProcess(commandLine, setupTimeoutMs, nullptr, &exitCode) ? static_cast<int>(exitCode) : -1;
}

std::string shellFolder(int folder)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The names in a folder, each after a blank.
std::string namesIn(const std::string& folder)
{
    std::string names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found)) {
        if (lstrcmpA(found.cFileName, ".") != 0 && lstrcmpA(found.cFileName, "..") != 0) {
            names += std::string(" ") + found.cFileName;
        }
    }
    if (search != INVALID_HANDLE_VALUE) {
        FindClose(search);
    }
    return names;
}

FILETIME lastWriteTime(const std::string& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    ZeroMemory(&data, sizeof(data));
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// Whether MoveFileEx (MOVEFILE_DELAY_UNTIL_REBOOT) marked the file for
// deletion at the next restart. The machine's list holds pairs of names,
// an empty second name for a deletion, and ends with an empty first name.
bool markedForDeletionAtRestart(const std::string& path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManagerKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    std::vector<char> stored;
    if (RegQueryValueExA(key, pendingRenamesValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        // Two more zeros than the value, so that no read below runs past it.
        stored.resize(size + 2);
        RegQueryValueExA(key, pendingRenamesValue, nullptr, nullptr, reinterpret_cast<BYTE*>(stored.data()), &size);
    }
    RegCloseKey(key);
    for (size_t at = 0; at + 1 < stored.size() && stored[at] != '\0';) {
        std::string source = stored.data() + at;
        at += source.size() + 1;
        std::string target = stored.data() + at;
        at += target.size() + 1;
        if (lstrcmpiA(source.c_str(), ("\\??\\" + path).c_str()) == 0 && target.empty()) {
            return true;
        }
    }
    return false;
}

// Whether Everyone (S-1-1-0) may add files to the folder, by its rights as
// Windows reports them. Wine keeps no rights of its own: it reports, and
// sets, Everyone's from the Unix folder's permissions for others.
bool everyoneMayAddFiles(const std::string& folder)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
    bool may = dacl == nullptr;
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE &&
            EqualSid(&ace->SidStart, everyone) && (ace->Mask & (FILE_ADD_FILE | GENERIC_WRITE | GENERIC_ALL)) != 0) {
            may = true;
        }
    }
    FreeSid(everyone);
    LocalFree(descriptor);
    return may;
}

// Gives Everyone full control of a folder, as a standard user could give
// it to a folder of their own.
bool letEveryoneWrite(const std::string& folder)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA("D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
        return false;
    }
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
    DWORD result = SetNamedSecurityInfoA(const_cast<char*>(folder.c_str()), SE_FILE_OBJECT,
                                         DACL_SECURITY_INFORMATION, nullptr, nullptr, dacl, nullptr);
    LocalFree(descriptor);
    return result == ERROR_SUCCESS;
}

std::string shortcutTarget(const std::string& shortcut)
{
    std::string target;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link)))) {
        return target;
    }
    IPersistFile* file = nullptr;
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        std::wstring wide(shortcut.begin(), shortcut.end());
        char path[MAX_PATH] = "";
        if (SUCCEEDED(file->Load(wide.c_str(), STGM_READ)) &&
            SUCCEEDED(link->GetPath(path, sizeof(path), nullptr, 0))) {
            target = path;
        }
        file->Release();
    }
    link->Release();
    return target;
}

// One string of a file's version resource, from the block its translation
// table names; "" if there is none.
std::string versionField(const std::string& path, const char* field)
{
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), nullptr);
    std::vector<char> info(size);
    if (size == 0 || !GetFileVersionInfoA(path.c_str(), 0, size, info.data())) {
        return "";
    }
    WORD* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) ||
        length < 4) {
        return "";
    }
    char block[128];
    wsprintfA(block, "\\StringFileInfo\\%04x%04x\\%s", translation[0], translation[1], field);
    char* value = nullptr;
    if (!VerQueryValueA(info.data(), block, reinterpret_cast<void**>(&value), &length) || length == 0) {
        return "";
    }
    return value;
}

std::string imageOf(DWORD processId)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    char path[MAX_PATH] = "";
    if (process != nullptr) {
        GetModuleFileNameExA(process, nullptr, path, sizeof(path));
        CloseHandle(process);
    }
    return path;
}

// The image name (no folder) of the process that started processId, while
// that one still runs; "" otherwise.
std::string parentImageName(DWORD processId)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return "";
    }
    std::vector<PROCESSENTRY32> processes;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        processes.push_back(entry);
    }
    CloseHandle(snapshot);
    for (const PROCESSENTRY32& child : processes) {
        if (child.th32ProcessID != processId) {
            continue;
        }
        for (const PROCESSENTRY32& parent : processes) {
            if (parent.th32ProcessID == child.th32ParentProcessID) {
                return parent.szExeFile;
            }
        }
    }
    return "";
}

// Asks a spooler the test did not start itself to exit, as the setup does,
// and waits for its process; its exit code, or -1.
int exitSpooler(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, processId);
    if (process == nullptr) {
        return -1;
    }
    DWORD exitCode = static_cast<DWORD>(-1);
    PostMessageA(window, WM_COMMAND, IDM_EXIT, 0);
    if (WaitForSingleObject(process, spoolerExitTimeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process, &exitCode);
    }
    CloseHandle(process);
    return static_cast<int>(exitCode);
}

struct SetupWindow {
    DWORD processId;
    HWND window;
};

BOOL CALLBACK findSetupWindow(HWND window, LPARAM found)
{
    SetupWindow* setup = reinterpret_cast<SetupWindow*>(found);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId != setup->processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    setup->window = window;
    return FALSE;
}

// The same for a spooler's main window, shown or not.
BOOL CALLBACK findSpoolerWindowOf(HWND window, LPARAM found)
{
    SetupWindow* spooler = reinterpret_cast<SetupWindow*>(found);
    char name[64] = "";
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    GetClassNameA(window, name, sizeof(name));
    if (processId != spooler->processId || lstrcmpA(name, "FQSpoolClass") != 0) {
        return TRUE;
    }
    spooler->window = window;
    return FALSE;
}

// The page a setup window shows: each page is a dialog of its own inside
// it. nullptr for a message box.
HWND shownPage(HWND window)
{
    return FindWindowExA(window, nullptr, "#32770", nullptr);
}

// Goes through an interactive setup as a user who takes every default
// would: clicks its Next button (I Agree, Install, Finish) whenever it can
// be clicked, once a page, until the setup ends or timeoutMs pass. A
// message box on the way is answered OK (one that asks Retry or Cancel,
// Cancel) and its text kept in *box. A setup that stopped (only its Cancel
// button can be clicked) is closed. Whether the setup ended.
bool clickThroughSetup(const PROCESS_INFORMATION& setup, int timeoutMs, std::string* box)
{
    HWND clickedWindow = nullptr;
    HWND clickedPage = nullptr;
    for (int waited = 0; waited < timeoutMs; waited += 200) {
        if (WaitForSingleObject(setup.hProcess, 200) == WAIT_OBJECT_0) {
            return true;
        }
        SetupWindow found = {setup.dwProcessId, nullptr};
        EnumWindows(findSetupWindow, reinterpret_cast<LPARAM>(&found));
        HWND next = found.window != nullptr ? GetDlgItem(found.window, IDOK) : nullptr;
        HWND cancel = found.window != nullptr ? GetDlgItem(found.window, IDCANCEL) : nullptr;
        if (found.window != nullptr && GetDlgItem(found.window, IDRETRY) != nullptr) {
            next = cancel;
        } else if (next != nullptr && !IsWindowEnabled(next) && cancel != nullptr && IsWindowEnabled(cancel)) {
            next = cancel;
        }
        if (next == nullptr || !IsWindowEnabled(next)) {
            continue;
        }
        // Until the click has brought the next page (or taken the box away),
        // a second one would skip a page.
        HWND page = shownPage(found.window);
        if (found.window == clickedWindow && page == clickedPage) {
            continue;
        }
        char text[512] = "";
        if (GetDlgItemTextA(found.window, 0xFFFF, text, sizeof(text)) > 0) {  // a message box's text
            *box += text;
        }
        PostMessageA(next, BM_CLICK, 0, 0);
        clickedWindow = found.window;
        clickedPage = page;
    }
    return false;
}

class InstallerTest : public testing::Test {
protected:
    void SetUp() override
    {
        setup = setupPath();
        ASSERT_FALSE(setup.empty()) << "FERNQUILL_SETUP is not set";
        ASSERT_FALSE(printOutputFolder().empty()) << "PRINT_OUT_DIR is not set";
        ASSERT_FALSE(keyExists(uninstallKey)) << "installed before the test";
        CoInitialize(nullptr);
        clearPrintedFiles();
        // The spooler the setup starts needs Palm Desktop, or it says so in
        // a box and ends.
        palm = uniqueTempPath();
        backup = palm + "\\Palm User\\backup";
        ASSERT_TRUE(CreateDirectoryA(palm.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((palm + "\\Palm User").c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(backup.c_str(), nullptr));
        setInstallFolder(palm);
        folder = shellFolder(CSIDL_PROGRAM_FILES) + "\\" SPOOLER_PRODUCT_NAME;
        program = folder + "\\" SPOOLER_EXE_NAME;
        shortcut = shellFolder(CSIDL_COMMON_PROGRAMS) + "\\" SPOOLER_PRODUCT_NAME ".lnk";
    }

    void TearDown() override
    {
        spooler.end();
        endSpoolerOnTheOtherDesktop();
        for (HWND window; (window = FindWindowA("FQSpoolClass", nullptr)) != nullptr;) {
            if (exitSpooler(window) < 0) {
                break;
            }
        }
        removeInstalled();
        for (const std::string& tool : replacedTools) {
            MoveFileExA((tool + ".wine").c_str(), tool.c_str(), MOVEFILE_REPLACE_EXISTING);
        }
        HKEY overrides;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, wineOverridesKey, 0, KEY_SET_VALUE, &overrides) == ERROR_SUCCESS) {
            for (const std::string& tool : overriddenTools) {
                RegDeleteValueA(overrides, tool.c_str());
            }
            RegCloseKey(overrides);
        }
        if (!windowsVersionKey.empty()) {
            RegDeleteKeyA(HKEY_CURRENT_USER, windowsVersionKey.c_str());
        }
        forgetPendingRenames();
        SetEnvironmentVariableA("FERNQUILL_RECORD_FILE", nullptr);
        SetEnvironmentVariableA("FERNQUILL_RECORD_EXIT", nullptr);
        removeRegistryValues();
        removeFolderTree(palm);
        clearPrintedFiles();
        CoUninitialize();
    }

    // Uninstalled in place (_?=), so the wait is for the uninstaller
    // itself; it can't remove itself that way. Its process may hold its
    // file a moment after it ended, and whatever held the program when the
    // uninstaller ran (Wine's menu builder reads its icon after the setup)
    // leaves it marked for the next restart. A folder left behind would
    // count as made beforehand by the next install.
    void removeInstalled()
    {
        std::string installed;
        if (readString(uninstallKey, "InstallLocation", &installed)) {
            runAndWait("\"" + installed + "\\uninstall.exe\" /S _?=" + installed);
            waitFor(
                [&] {
                    DeleteFileA((installed + "\\uninstall.exe").c_str());
                    DeleteFileA((installed + "\\" SPOOLER_EXE_NAME).c_str());
                    return RemoveDirectoryA(installed.c_str()) != FALSE || !exists(installed);
                },
                startTimeoutMs);
        }
    }

    // Puts record_command in the place of a tool of Windows' system folder
    // (and of its 32-bit one, which a 32-bit setup runs); TearDown puts
    // Wine's back.
    bool replaceSystemTool(const char* name)
    {
        char folder[MAX_PATH];
        std::vector<std::string> folders;
        if (GetSystemDirectoryA(folder, sizeof(folder)) > 0) {
            folders.push_back(folder);
        }
        // Where Wine has no 32-bit part, its 32-bit system folder is empty.
        if (GetSystemWow64DirectoryA(folder, sizeof(folder)) > 0 && exists(std::string(folder) + "\\" + name)) {
            folders.push_back(folder);
        }
        // Wine runs its own build of a system tool rather than the file
        // there, unless the prefix says otherwise.
        HKEY overrides;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, wineOverridesKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &overrides,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        LONG set = RegSetValueExA(overrides, name, 0, REG_SZ, reinterpret_cast<const BYTE*>("native"), 7);
        RegCloseKey(overrides);
        if (set != ERROR_SUCCESS) {
            return false;
        }
        overriddenTools.push_back(name);
        for (const std::string& each : folders) {
            std::string tool = each + "\\" + name;
            if (!MoveFileExA(tool.c_str(), (tool + ".wine").c_str(), MOVEFILE_REPLACE_EXISTING)) {
                return false;
            }
            replacedTools.push_back(tool);
            if (!CopyFileA(windowsPathOf(RECORD_COMMAND_PATH).c_str(), tool.c_str(), FALSE)) {
                return false;
            }
        }
        return !folders.empty();
    }

    int install(const std::string& options = "") { return runAndWait("\"" + setup + "\" /S" + options); }

    // Runs the setup as a user clicks through it (clickThroughSetup);
    // whether it ended, with the text of its boxes in *box.
    bool clickThrough(const std::string& options, std::string* box)
    {
        PROCESS_INFORMATION process;
        if (!startProcess("\"" + setup + "\"" + options, 0, false, nullptr, &process)) {
            return false;
        }
        bool ended = clickThroughSetup(process, setupTimeoutMs, box);
        if (!ended) {
            TerminateProcess(process.hProcess, 1);
        }
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        return ended;
    }

    // Runs the uninstaller as Programs and Features does and waits for it
    // to finish.
    bool uninstallQuietly()
    {
        std::string command;
        return readString(uninstallKey, "QuietUninstallString", &command) && runAndWait(command) == 0 &&
               waitFor([] { return !keyExists(uninstallKey); }, setupTimeoutMs);
    }

    std::string setup;
    std::string palm;
    std::string backup;
    std::string folder;
    std::string program;
    std::string shortcut;
    SpoolerProcess spooler;
    // Makes the installed version look older: its entry says 1.0.0, and its
    // program was written in 2001 (oldProgramTime); the setup writes the
    // program with the time it was built.
    bool makeTheInstalledVersionOld()
    {
        HKEY entry;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstallKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &entry) != ERROR_SUCCESS) {
            return false;
        }
        LONG set = RegSetValueExA(entry, "DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>("1.0.0"), 6);
        RegCloseKey(entry);
        HANDLE file = CreateFileA(program.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (set != ERROR_SUCCESS || file == INVALID_HANDLE_VALUE) {
            return false;
        }
        BOOL timed = SetFileTime(file, nullptr, nullptr, &oldProgramTime);
        CloseHandle(file);
        return timed != FALSE;
    }

    // Makes the setup see Windows XP (Wine's version for one program, by
    // its file name); TearDown takes it back.
    bool makeTheSetupSeeWindowsXp()
    {
        DWORD binaryType = 0;
        std::string name = setup.substr(setup.find_last_of('\\') + 1);
        windowsVersionKey = std::string(wineAppDefaultsKey) + "\\" + name;
        const char* version = GetBinaryTypeA(setup.c_str(), &binaryType) && binaryType == SCS_64BIT_BINARY ? "winxp64"
                                                                                                             : "winxp";
        HKEY key;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, windowsVersionKey.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                            nullptr) != ERROR_SUCCESS) {
            return false;
        }
        LONG set = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version),
                                  static_cast<DWORD>(lstrlenA(version) + 1));
        RegCloseKey(key);
        return set == ERROR_SUCCESS;
    }

    // Starts the installed program on the other desktop and waits until its
    // window is there; that window, or nullptr.
    HWND startSpoolerOnTheOtherDesktop()
    {
        otherDesktop = CreateDesktopA(otherDesktopName, nullptr, nullptr, 0, GENERIC_ALL, nullptr);
        if (otherDesktop == nullptr) {
            return nullptr;
        }
        STARTUPINFOA startup;
        ZeroMemory(&startup, sizeof(startup));
        startup.cb = sizeof(startup);
        std::string desktop = std::string("WinSta0\\") + otherDesktopName;
        startup.lpDesktop = &desktop[0];
        if (!startProcess("\"" + program + "\"", 0, false, &startup, &otherSpooler)) {
            return nullptr;
        }
        HWND window = nullptr;
        waitFor([&] { return (window = spoolerWindowOnTheOtherDesktop()) != nullptr; }, startTimeoutMs);
        return window;
    }

    HWND spoolerWindowOnTheOtherDesktop()
    {
        SetupWindow search = {otherSpooler.dwProcessId, nullptr};
        EnumDesktopWindows(otherDesktop, findSpoolerWindowOf, reinterpret_cast<LPARAM>(&search));
        return search.window;
    }

    // Through File > Exit, as its user would; its exit code, or -1.
    int exitSpoolerOnTheOtherDesktop()
    {
        HWND window = spoolerWindowOnTheOtherDesktop();
        return window != nullptr ? exitSpooler(window) : -1;
    }

    void endSpoolerOnTheOtherDesktop()
    {
        if (otherSpooler.hProcess != nullptr) {
            if (WaitForSingleObject(otherSpooler.hProcess, 0) == WAIT_TIMEOUT && exitSpoolerOnTheOtherDesktop() < 0) {
                TerminateProcess(otherSpooler.hProcess, 255);
                WaitForSingleObject(otherSpooler.hProcess, spoolerExitTimeoutMs);
            }
            CloseHandle(otherSpooler.hThread);
            CloseHandle(otherSpooler.hProcess);
            otherSpooler = PROCESS_INFORMATION();
        }
        if (otherDesktop != nullptr) {
            CloseDesktop(otherDesktop);
            otherDesktop = nullptr;
        }
    }

    // The test prefix starts with no list; what the setup marked goes, so
    // that the prefix's next start doesn't delete a later test's files.
    void forgetPendingRenames()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sessionManagerKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, pendingRenamesValue);
            RegCloseKey(key);
        }
    }

    std::vector<std::string> replacedTools;
    std::vector<std::string> overriddenTools;
    std::string windowsVersionKey;
    const FILETIME oldProgramTime = {0, 0x01C0D000};
    HDESK otherDesktop = nullptr;
    PROCESS_INFORMATION otherSpooler = {};
};

TEST_F(InstallerTest, SilentInstallPutsEverythingWhereItBelongs)
{
    ASSERT_EQ(0, install());

    DWORD binaryType = 99;
    ASSERT_TRUE(GetBinaryTypeA(program.c_str(), &binaryType)) << program;
    EXPECT_EQ(nativeBinaryType(), binaryType);
    EXPECT_EQ(FERNQUILL_VERSION_TEXT, versionField(program, "ProductVersion"));
    EXPECT_TRUE(exists(folder + "\\uninstall.exe"));
    EXPECT_TRUE(exists(folder + "\\LICENSE.txt"));
    EXPECT_EQ(0, lstrcmpiA(program.c_str(), shortcutTarget(shortcut).c_str())) << shortcutTarget(shortcut);
    std::string logon;
    EXPECT_TRUE(readString(runKey, runValue, &logon));
    EXPECT_EQ("\"" + program + "\" /logon", logon);

    struct Field {
        const char* name;
        std::string value;
    };
    const Field entry[] = {
        {"DisplayName", SPOOLER_PRODUCT_NAME},
        {"DisplayVersion", FERNQUILL_VERSION_TEXT},
        {"Publisher", SPOOLER_PUBLISHER},
        {"DisplayIcon", program + ",0"},
        {"InstallLocation", folder},
        {"UninstallString", "\"" + folder + "\\uninstall.exe\""},
        {"QuietUninstallString", "\"" + folder + "\\uninstall.exe\" /S"},
    };
    for (const Field& field : entry) {
        std::string value;
        EXPECT_TRUE(readString(uninstallKey, field.name, &value)) << field.name;
        EXPECT_EQ(field.value, value) << field.name;
    }
    EXPECT_EQ(1u, readNumber(uninstallKey, "NoModify"));
    EXPECT_EQ(1u, readNumber(uninstallKey, "NoRepair"));
    WIN32_FILE_ATTRIBUTE_DATA programFile;
    ASSERT_TRUE(GetFileAttributesExA(program.c_str(), GetFileExInfoStandard, &programFile));
    EXPECT_GE(readNumber(uninstallKey, "EstimatedSize"), programFile.nFileSizeLow / 1024) << "kilobytes";
    if (nativeBinaryType() == SCS_64BIT_BINARY) {
        EXPECT_FALSE(keyExists(uninstallKey, KEY_WOW64_32KEY)) << "written under WOW6432Node";
    }

    // The setup's own version resource says the same as the program's.
    for (const char* field : {"CompanyName", "LegalCopyright", "ProductName", "ProductVersion", "FileVersion"}) {
        EXPECT_EQ(versionField(program, field), versionField(setup, field)) << field;
    }
    EXPECT_EQ(0u, versionField(setup, "FileDescription").find(SPOOLER_PRODUCT_NAME));
}

TEST_F(InstallerTest, ProgramStartedFromTheLogonEntryPrintsADeliveredSpoolFile)
{
    ASSERT_EQ(0, install());
    std::string logon;
    ASSERT_TRUE(readString(runKey, runValue, &logon));

    ASSERT_TRUE(spooler.startCommand(logon));
    ASSERT_NE(nullptr, spooler.waitUntilListening(startTimeoutMs));
    EXPECT_EQ(0, lstrcmpiA(program.c_str(), imageOf(spooler.id()).c_str()));
    SpoolDatabase job;
    job.records = {textRecord("STARTED AT LOGON\n")};
    ASSERT_TRUE(writeWholeFile(backup + "\\" + spoolFileName, buildSpoolFile(job)));
    ASSERT_TRUE(waitForPrintedFiles(1, deliveryTimeoutMs));
    std::string printed = printedText(printedFiles()[0]);
    EXPECT_NE(std::string::npos, printed.find("STARTED AT LOGON")) << printed;
}

TEST_F(InstallerTest, UpgradeWhileTheSpoolerRunsEndsItThroughExitReplacesItsFilesAndStartsItAgain)
{
    // Installed first where the administrator chose; the upgrade must find it.
    folder = "C:\\Fernquill Chosen Folder";
    program = folder + "\\" SPOOLER_EXE_NAME;
    ASSERT_EQ(0, install(" /D=" + folder));
    ASSERT_TRUE(exists(program));
    // What an older version would have left: its version in the entry, its
    // own program file and licence text.
    HKEY entry;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, uninstallKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &entry));
    RegSetValueExA(entry, "DisplayVersion", 0, REG_SZ, reinterpret_cast<const BYTE*>("1.0.0"), 6);
    RegCloseKey(entry);
    std::string licence = readWholeFile(folder + "\\LICENSE.txt");
    ASSERT_TRUE(writeWholeFile(folder + "\\LICENSE.txt", Bytes(licence.begin(), licence.end()) + Bytes{'O', 'L', 'D'}));
    HANDLE file = CreateFileA(program.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    FILETIME old = {0, 0x01C0D000};  // 2001
    EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &old));
    CloseHandle(file);

    ASSERT_TRUE(spooler.start(program));
    ASSERT_NE(nullptr, spooler.waitUntilListening(startTimeoutMs));
    ASSERT_EQ(0, install());

    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode)) << "the running spooler was not ended";
    EXPECT_EQ(0u, exitCode) << "ended otherwise than through File > Exit";
    std::string version;
    EXPECT_TRUE(readString(uninstallKey, "DisplayVersion", &version));
    EXPECT_EQ(FERNQUILL_VERSION_TEXT, version);
    EXPECT_EQ(licence, readWholeFile(folder + "\\LICENSE.txt"));
    WIN32_FILE_ATTRIBUTE_DATA programFile;
    ASSERT_TRUE(GetFileAttributesExA(program.c_str(), GetFileExInfoStandard, &programFile));
    EXPECT_NE(0, CompareFileTime(&old, &programFile.ftLastWriteTime)) << "the program was not replaced";
    EXPECT_EQ(1, entriesNamed(SPOOLER_PRODUCT_NAME));
    EXPECT_FALSE(exists(shellFolder(CSIDL_PROGRAM_FILES) + "\\" SPOOLER_PRODUCT_NAME)) << "installed a second time";

    // The spooler it ended is running again, from the installed program.
    HWND restarted = nullptr;
    EXPECT_TRUE(waitFor([&] { return (restarted = FindWindowA("FQSpoolClass", nullptr)) != nullptr; }, startTimeoutMs));
    if (restarted != nullptr) {
        DWORD processId = 0;
        GetWindowThreadProcessId(restarted, &processId);
        EXPECT_EQ(0, lstrcmpiA(program.c_str(), imageOf(processId).c_str())) << imageOf(processId);
        // Started by the desktop shell as the logged-on user, not by the
        // setup with its rights.
        EXPECT_EQ(0, lstrcmpiA("explorer.exe", parentImageName(processId).c_str())) << parentImageName(processId);
        EXPECT_EQ(0, exitSpooler(restarted));
    }
}

TEST_F(InstallerTest, FinishPageStartsTheSpoolerThroughTheDesktopShell)
{
    PROCESS_INFORMATION process;
    ASSERT_TRUE(startProcess("\"" + setup + "\"", 0, false, nullptr, &process));
    std::string box;
    bool ended = clickThroughSetup(process, setupTimeoutMs, &box);
    if (!ended) {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    ASSERT_TRUE(ended) << "the setup did not go through its pages";
    EXPECT_EQ("", box);

    HWND started = nullptr;
    ASSERT_TRUE(waitFor([&] { return (started = FindWindowA("FQSpoolClass", nullptr)) != nullptr; }, startTimeoutMs));
    DWORD processId = 0;
    GetWindowThreadProcessId(started, &processId);
    EXPECT_EQ(0, lstrcmpiA(program.c_str(), imageOf(processId).c_str())) << imageOf(processId);
    EXPECT_EQ(0, lstrcmpiA("explorer.exe", parentImageName(processId).c_str())) << parentImageName(processId);
    EXPECT_EQ(0, exitSpooler(started));
}

TEST_F(InstallerTest, UpgradeKeepsTheLogonStartTurnedOff)
{
    ASSERT_EQ(0, install());
    HKEY run;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, runKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &run));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(run, runValue));
    RegCloseKey(run);

    ASSERT_EQ(0, install());

    std::string logon;
    EXPECT_FALSE(readString(runKey, runValue, &logon)) << logon;
    EXPECT_TRUE(exists(program));
}

TEST_F(InstallerTest, UpgradeRewritesALogonEntryWithoutTheLogonArgument)
{
    ASSERT_EQ(0, install());
    HKEY run;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, runKey, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, &run));
    std::string old = "\"" + program + "\"";
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(run, runValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(old.c_str()),
                                            static_cast<DWORD>(old.size() + 1)));
    RegCloseKey(run);

    ASSERT_EQ(0, install());

    std::string logon;
    EXPECT_TRUE(readString(runKey, runValue, &logon));
    EXPECT_EQ(old + " /logon", logon);
}

// Wine's icacls only says it is a stub, so the rights themselves can't be
// read back under Wine. What is checked is how the setup runs icacls, in
// record_command's place, and what it does with its exit code. A folder in
// Program Files gets the same rights: they are judged from the folder, not
// from its name.
TEST_F(InstallerTest, FolderOutsideProgramFilesGetsProgramFilesRightsFromIcacls)
{
    ASSERT_TRUE(replaceSystemTool("icacls.exe"));
    std::string record = palm + "\\icacls.txt";
    SetEnvironmentVariableA("FERNQUILL_RECORD_FILE", record.c_str());
    char system[MAX_PATH] = "";
    GetSystemDirectoryA(system, sizeof(system));
    const std::string chosen = "C:\\Fernquill Rights";
    const std::string icacls = std::string("\"") + system + "\\icacls.exe\" \"" + chosen + "\" ";
    const std::string calls[] = {
        icacls + "/inheritance:r /grant:r *S-1-5-32-544:(OI)(CI)F *S-1-5-18:(OI)(CI)F *S-1-5-32-545:(OI)(CI)RX",
        icacls + "/remove:g *S-1-5-11",
    };
    struct Case {
        const char* name;
        bool chooseFolder;
        const char* icaclsExit;
        int setupExit;
        size_t callsMade;  // the first of calls[]
    };
    const Case cases[] = {
        {"chosen folder", true, "0", 0, 2},
        {"Program Files", false, "0", 0, 2},
        {"icacls fails: nothing installed", true, "5", 2, 1},
    };
    for (const Case& test : cases) {
        DeleteFileA(record.c_str());
        SetEnvironmentVariableA("FERNQUILL_RECORD_EXIT", test.icaclsExit);

        EXPECT_EQ(test.setupExit, install(test.chooseFolder ? " /D=" + chosen : "")) << test.name;

        std::string expected;
        for (size_t i = 0; i < test.callsMade; i++) {
            expected += calls[i] + "\n";
        }
        std::string inProgramFiles = std::string("\"") + system + "\\icacls.exe\" \"" + folder + "\" ";
        if (!test.chooseFolder) {
            while (expected.find(icacls) != std::string::npos) {
                expected.replace(expected.find(icacls), icacls.size(), inProgramFiles);
            }
        }
        EXPECT_EQ(expected, readWholeFile(record)) << test.name;
        EXPECT_EQ(test.setupExit == 0, exists((test.chooseFolder ? chosen : folder) + "\\" SPOOLER_EXE_NAME))
            << test.name;
        removeInstalled();
        RemoveDirectoryA(chosen.c_str());
    }
}

TEST_F(InstallerTest, UninstallWhileTheSpoolerRunsRemovesWhatSetupWroteAndNothingElse)
{
    ASSERT_EQ(0, install());
    // HotSync's folders, with a spool file and a file beside it.
    SpoolDatabase job;
    job.records = {textRecord("NOT PRINTED: THERE BEFORE THE SPOOLER STARTED\n")};
    Bytes spoolBytes = buildSpoolFile(job);
    std::string spoolPath = backup + "\\" + spoolFileName;
    ASSERT_TRUE(writeWholeFile(spoolPath, spoolBytes));
    ASSERT_TRUE(writeWholeFile(backup + "\\Saved_Preferences.PRC", Bytes{'P', 'R', 'C'}));
    ASSERT_TRUE(spooler.start(program));
    ASSERT_NE(nullptr, spooler.waitUntilListening(startTimeoutMs));

    ASSERT_TRUE(uninstallQuietly());

    DWORD exitCode = 255;
    ASSERT_TRUE(spooler.waitForExit(spoolerExitTimeoutMs, &exitCode)) << "the running spooler was not ended";
    EXPECT_EQ(0u, exitCode);
    for (const std::string& path : {program, folder + "\\uninstall.exe", folder + "\\LICENSE.txt", shortcut, folder}) {
        EXPECT_FALSE(exists(path)) << path;
    }
    std::string logon;
    EXPECT_FALSE(readString(runKey, runValue, &logon));
    EXPECT_EQ(0, entriesNamed(SPOOLER_PRODUCT_NAME));

    std::string spool = readWholeFile(spoolPath);
    EXPECT_EQ(std::string(spoolBytes.begin(), spoolBytes.end()), spool);
    EXPECT_EQ("PRC", readWholeFile(backup + "\\Saved_Preferences.PRC"));
    HKEY core;
    char registered[MAX_PATH] = "";
    DWORD size = sizeof(registered) - 1;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\U.S. Robotics\\Pilot Desktop\\Core", 0,
                                           KEY_QUERY_VALUE, &core));
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(core, "Path", nullptr, nullptr, reinterpret_cast<BYTE*>(registered), &size));
    RegCloseKey(core);
    EXPECT_EQ(palm, registered);
}

TEST_F(InstallerTest, UninstallKeepsTheFolderWhenSomethingElseIsInIt)
{
    ASSERT_EQ(0, install());
    std::string notes = folder + "\\my notes.txt";
    ASSERT_TRUE(writeWholeFile(notes, Bytes{'h', 'i'}));

    ASSERT_TRUE(uninstallQuietly());

    EXPECT_FALSE(exists(program));
    EXPECT_EQ("hi", readWholeFile(notes));
    DeleteFileA(notes.c_str());
    // The uninstaller's copy may still be leaving when the entry goes.
    EXPECT_TRUE(waitFor([&] { return RemoveDirectoryA(folder.c_str()) != FALSE; }, startTimeoutMs))
        << "something else was left in " << folder;
}

}  // namespace

namespace {

// A spooler of another session runs the installed program, and the setup
// can't ask it to exit: the new program takes its place anyway, and the
// running one goes on from the old file, renamed aside and deleted at the
// next restart.
TEST_F(InstallerTest, UpgradeReplacesTheProgramThatASpoolerOfAnotherSessionRuns)
{
    ASSERT_EQ(0, install());
    ASSERT_TRUE(makeTheInstalledVersionOld());
    ASSERT_NE(nullptr, startSpoolerOnTheOtherDesktop());
    ASSERT_EQ(nullptr, FindWindowA("FQSpoolClass", nullptr)) << "the setup would see it";

    ASSERT_EQ(0, install());

    std::string version;
    EXPECT_TRUE(readString(uninstallKey, "DisplayVersion", &version));
    EXPECT_EQ(FERNQUILL_VERSION_TEXT, version);
    FILETIME replaced = lastWriteTime(program);
    EXPECT_NE(0, CompareFileTime(&oldProgramTime, &replaced)) << "the program was not replaced";
    EXPECT_EQ(FERNQUILL_VERSION_TEXT, versionField(program, "ProductVersion"));
    const std::string aside = program + ".1.old";
    EXPECT_TRUE(exists(aside));
    EXPECT_TRUE(markedForDeletionAtRestart(aside));
    EXPECT_FALSE(exists(program + ".new"));
    EXPECT_EQ(1, entriesNamed(SPOOLER_PRODUCT_NAME));
    // Not ended by force: it still runs, and File > Exit still ends it.
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(otherSpooler.hProcess, 0));
    EXPECT_EQ(0, exitSpoolerOnTheOtherDesktop());
}

// The program can't be renamed either (a handle open on it without delete
// sharing, as a virus scanner's): nothing changes, and the setup says so,
// silently in its exit code, clicked through in a sentence.
TEST_F(InstallerTest, SetupThatCanNotReplaceTheProgramSaysSoAndKeepsTheInstalledVersion)
{
    ASSERT_EQ(0, install());
    ASSERT_TRUE(makeTheInstalledVersionOld());
    struct Case {
        const char* name;
        bool clickedThrough;
    };
    const Case cases[] = {{"silent", false}, {"clicked through", true}};
    for (const Case& test : cases) {
        HANDLE held = CreateFileA(program.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, held) << test.name;

        if (test.clickedThrough) {
            std::string box;
            EXPECT_TRUE(clickThrough("", &box)) << "the setup did not stop";
            EXPECT_NE(std::string::npos, box.find(program + " is in use and could not be replaced")) << box;
        } else {
            EXPECT_EQ(2, install()) << test.name;
        }

        CloseHandle(held);
        std::string version;
        EXPECT_TRUE(readString(uninstallKey, "DisplayVersion", &version)) << test.name;
        EXPECT_EQ("1.0.0", version) << test.name;
        FILETIME kept = lastWriteTime(program);
        EXPECT_EQ(0, CompareFileTime(&oldProgramTime, &kept)) << test.name << ": the program was changed";
        EXPECT_FALSE(exists(program + ".new")) << test.name;
        EXPECT_FALSE(exists(program + ".1.old")) << test.name;
        EXPECT_EQ(1, entriesNamed(SPOOLER_PRODUCT_NAME)) << test.name;
    }
}

// The program is renamed aside before it is marked, so that a setup run
// before the restart keeps the program it puts there.
TEST_F(InstallerTest, UninstallWhileASpoolerOfAnotherSessionRunsRemovesTheProgramAtTheNextRestart)
{
    ASSERT_EQ(0, install());
    ASSERT_NE(nullptr, startSpoolerOnTheOtherDesktop());

    ASSERT_TRUE(uninstallQuietly());

    const std::string aside = program + ".1.old";
    EXPECT_TRUE(markedForDeletionAtRestart(aside));
    EXPECT_TRUE(markedForDeletionAtRestart(folder));
    for (const std::string& path : {program, folder + "\\uninstall.exe", folder + "\\LICENSE.txt", shortcut}) {
        EXPECT_FALSE(exists(path)) << path;
    }
    std::string logon;
    EXPECT_FALSE(readString(runKey, runValue, &logon));

    ASSERT_EQ(0, install());
    EXPECT_TRUE(exists(program));
    EXPECT_FALSE(markedForDeletionAtRestart(program));
    EXPECT_EQ(0, exitSpoolerOnTheOtherDesktop());
}

// Under Wine every file belongs to the account that runs the setup, and an
// owner set through Windows is not kept, so a folder made by another owner
// can't be made here; what a folder holds can.
TEST_F(InstallerTest, FolderThereBeforeIsRefusedWhenItHoldsWhatTheSetupDidNotPutThere)
{
    const std::string chosen = "C:\\Fernquill Made Before";
    struct Case {
        const char* name;
        const char* planted;  // a file in the folder, or none
        bool plantedFolder;
        int setupExit;
        bool clickedThrough;  // then the refusal is said in a box, not an exit code
    };
    const Case cases[] = {
        {"a library beside the program", "winspool.drv", false, 2, false},
        {"a library beside the program, clicked through", "winspool.drv", false, 2, true},
        {"a folder", "bin", true, 2, false},
        {"an earlier program renamed aside", SPOOLER_EXE_NAME ".3.old", false, 0, false},
        {"nothing", nullptr, false, 0, false},
    };
    for (const Case& test : cases) {
        ASSERT_TRUE(CreateDirectoryA(chosen.c_str(), nullptr)) << test.name;
        std::string planted = test.planted != nullptr ? chosen + "\\" + test.planted : "";
        if (test.plantedFolder) {
            ASSERT_TRUE(CreateDirectoryA(planted.c_str(), nullptr)) << test.name;
        } else if (!planted.empty()) {
            ASSERT_TRUE(writeWholeFile(planted, Bytes{'M', 'Z'})) << test.name;
        }

        if (test.clickedThrough) {
            std::string box;
            EXPECT_TRUE(clickThrough(" /D=" + chosen, &box)) << test.name;
            EXPECT_NE(std::string::npos, box.find("The folder " + chosen + " already exists and holds " + test.planted))
                << box;
        } else {
            EXPECT_EQ(test.setupExit, install(" /D=" + chosen)) << test.name;
        }

        EXPECT_EQ(test.setupExit == 0, exists(chosen + "\\" SPOOLER_EXE_NAME)) << test.name;
        EXPECT_EQ(test.setupExit == 0 ? 1 : 0, entriesNamed(SPOOLER_PRODUCT_NAME)) << test.name;
        if (test.setupExit != 0 && !test.plantedFolder && !planted.empty()) {
            EXPECT_EQ("MZ", readWholeFile(planted)) << test.name;
        }
        removeInstalled();
        if (test.plantedFolder) {
            RemoveDirectoryA(planted.c_str());
        } else if (!planted.empty()) {
            // The uninstaller removes an earlier program renamed aside.
            EXPECT_EQ(test.setupExit != 0, exists(planted)) << test.name;
            DeleteFileA(planted.c_str());
        }
        RemoveDirectoryA(chosen.c_str());
        EXPECT_FALSE(exists(chosen)) << test.name << ": left in it:" << namesIn(chosen);
    }
}

// Windows XP's cacls takes account names and asks yes or no in the language
// of that Windows, so on XP the setup sets the rights through Windows' API,
// by SID, and runs no tool: none runs here (each in record_command's
// place), and a folder that Everyone could write to can't be written to by
// Everyone afterwards. Wine reports Windows 10 unless told otherwise, for
// the setup alone here. Which accounts the rights name can't be seen under
// Wine, which keeps only what the Unix permissions hold.
TEST_F(InstallerTest, WindowsXpGetsProgramFilesRightsWithoutATool)
{
    ASSERT_TRUE(replaceSystemTool("icacls.exe"));
    ASSERT_TRUE(replaceSystemTool("cacls.exe"));
    std::string record = palm + "\\tools.txt";
    SetEnvironmentVariableA("FERNQUILL_RECORD_FILE", record.c_str());
    ASSERT_TRUE(makeTheSetupSeeWindowsXp());
    const std::string chosen = "C:\\Fernquill XP";
    ASSERT_TRUE(CreateDirectoryA(chosen.c_str(), nullptr));
    ASSERT_TRUE(letEveryoneWrite(chosen));
    ASSERT_TRUE(everyoneMayAddFiles(chosen));

    EXPECT_EQ(0, install(" /D=" + chosen));

    EXPECT_TRUE(exists(chosen + "\\" SPOOLER_EXE_NAME));
    EXPECT_EQ("", readWholeFile(record));
    EXPECT_FALSE(everyoneMayAddFiles(chosen));
    removeInstalled();
    RemoveDirectoryA(chosen.c_str());
}

}  // namespace
