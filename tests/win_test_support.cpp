#include "tests/win_test_support.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/files.h"

namespace {

const int messageTextId = 0xFFFF;

struct DialogSearch {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK collectDialog(HWND window, LPARAM context)
{
    DialogSearch* search = reinterpret_cast<DialogSearch*>(context);
    char className[32] = "";
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == search->process && IsWindowVisible(window) &&
        GetClassNameA(window, className, sizeof(className)) > 0 && std::string(className) == "#32770") {
        search->found.push_back(window);
    }
    return TRUE;
}

std::string windowText(HWND window)
{
    char text[1024] = "";
    if (window != nullptr) {
        SendMessageA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    }
    return text;
}

}  // namespace

DialogWatcher::DialogWatcher(int answer, int delayMs, DWORD processId)
    : answer_(answer), delayMs_(delayMs), processId_(processId != 0 ? processId : GetCurrentProcessId()),
      stopping_(false)
{
    thread_ = std::thread([this] { watch(); });
}

DialogWatcher::~DialogWatcher()
{
    stopping_ = true;
    thread_.join();
}

std::vector<SeenDialog> DialogWatcher::seen()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return seen_;
}

bool DialogWatcher::waitUntilAnswered(size_t count, int timeoutMs)
{
    for (int waited = 0;; waited += 10) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bool allGone = std::none_of(answered_.begin(), answered_.end(),
                                        [](HWND dialog) { return IsWindow(dialog) != FALSE; });
            if (seen_.size() >= count && allGone) {
                return true;
            }
        }
        if (waited >= timeoutMs) {
            return false;
        }
        Sleep(10);
    }
}

void DialogWatcher::watch()
{
    while (!stopping_) {
        DialogSearch search = {processId_, {}};
        EnumWindows(collectDialog, reinterpret_cast<LPARAM>(&search));
        for (HWND dialog : search.found) {
            answer(dialog);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void DialogWatcher::answer(HWND dialog)
{
    DWORD now = GetTickCount();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        size_t known = 0;
        while (known < answered_.size() && answered_[known] != dialog) {
            known++;
        }
        // A dialog keeps its handle until it is gone, so one seen again is
        // the same dialog, not yet closed: it is answered again but recorded
        // once.
        if (known == answered_.size()) {
            answered_.push_back(dialog);
            firstSeen_.push_back(now);
            seen_.push_back({windowText(dialog), windowText(GetDlgItem(dialog, messageTextId))});
        }
        if (now - firstSeen_[known] < static_cast<DWORD>(delayMs_)) {
            return;
        }
    }
    PostMessageA(dialog, WM_COMMAND, answer_, 0);
}

std::string windowsPathOf(const std::string& unixPath)
{
    if (unixPath.empty() || unixPath[0] != '/') {
        return unixPath;
    }
    std::string converted = "Z:" + unixPath;
    for (char& c : converted) {
        if (c == '/') {
            c = '\\';
        }
    }
    return converted;
}

bool writeWholeFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    BOOL closed = CloseHandle(file);
    return ok && closed && written == bytes.size();
}

void removeFolderTree(const std::string& path)
{
    WIN32_FIND_DATAA entry;
    HANDLE listing = FindFirstFileA((path + "\\*").c_str(), &entry);
    if (listing != INVALID_HANDLE_VALUE) {
        do {
            std::string name = entry.cFileName;
            if (name == "." || name == "..") {
                continue;
            }
            std::string child = path + "\\" + name;
            if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                removeFolderTree(child);
            } else {
                DeleteFileA(child.c_str());
            }
        } while (FindNextFileA(listing, &entry));
        FindClose(listing);
    }
    RemoveDirectoryA(path.c_str());
}

namespace {

// The Unix path of a Windows path, from Wine's kernel32; "" if none.
std::string unixPathOf(const std::string& windowsPath)
{
    using ToUnix = char*(CDECL*)(LPCWSTR);
    ToUnix toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wide[MAX_PATH];
    if (toUnix == nullptr || MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide, MAX_PATH) == 0) {
        return "";
    }
    char* unixPath = toUnix(wide);
    if (unixPath == nullptr) {
        return "";
    }
    std::string result = unixPath;
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
}

}  // namespace

bool remakeFolder(const std::string& folder)
{
    std::string unixFolder = unixPathOf(folder);
    if (unixFolder.empty()) {
        return false;
    }
    std::string made = unixFolder + ".made";
    bool done = runUnixCommand("mkdir '" + unixFolder + ".new' && rm -rf '" + unixFolder + "' && mv '" + unixFolder +
                                   ".new' '" + unixFolder + "' && touch '" + made + "'",
                               made, 30000);
    DeleteFileA(windowsPathOf(made).c_str());
    return done;
}

std::string mapDriveLetter(const std::string& folder)
{
    for (char letter = 'P'; letter <= 'Y'; letter++) {
        std::string drive = std::string(1, letter) + ":";
        if (GetDriveTypeA((drive + "\\").c_str()) != DRIVE_NO_ROOT_DIR) {
            continue;
        }
        if (DefineDosDeviceA(0, drive.c_str(), folder.c_str())) {
            if (GetFileAttributesA((drive + "\\").c_str()) != INVALID_FILE_ATTRIBUTES) {
                return drive;
            }
            DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);
        }
        // Wine takes its drive letters from the prefix's dosdevices folder.
        std::string unixFolder = unixPathOf(folder);
        if (unixFolder.empty()) {
            return "";
        }
        std::string made = unixFolder + ".mapped";
        std::string link = "\"${WINEPREFIX:-$HOME/.wine}/dosdevices/" + std::string(1, static_cast<char>(letter - 'A' + 'a')) + ":\"";
        bool done = runUnixCommand("ln -s '" + unixFolder + "' " + link + " && touch '" + made + "'", made, 30000);
        DeleteFileA(windowsPathOf(made).c_str());
        return done && GetFileAttributesA((drive + "\\").c_str()) != INVALID_FILE_ATTRIBUTES ? drive : "";
    }
    return "";
}

void unmapDriveLetter(const std::string& drive)
{
    if (drive.empty()) {
        return;
    }
    if (!DefineDosDeviceA(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr)) {
        char temp[MAX_PATH] = "";
        GetTempPathA(MAX_PATH, temp);
        std::string made = unixPathOf(temp) + "/unmapped-" + drive.substr(0, 1);
        std::string link = "\"${WINEPREFIX:-$HOME/.wine}/dosdevices/" +
                           std::string(1, static_cast<char>(drive[0] - 'A' + 'a')) + ":\"";
        runUnixCommand("rm -f " + link + " && touch '" + made + "'", made, 30000);
        DeleteFileA(windowsPathOf(made).c_str());
    }
}

void setInstallFolder(const std::string& folder)
{
    RegSetKeyValueA(HKEY_CURRENT_USER, "Software\\U.S. Robotics\\Pilot Desktop\\Core", "Path", REG_SZ,
                    folder.c_str(), static_cast<DWORD>(folder.size() + 1));
}

void removeRegistryValues()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\U.S. Robotics");
    RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\3Com");
}

HWND createTestWindow(const char* className, WNDPROC windowProc, const char* title)
{
    WNDCLASSA windowClass;
    if (!GetClassInfoA(GetModuleHandleA(nullptr), className, &windowClass)) {
        ZeroMemory(&windowClass, sizeof(windowClass));
        windowClass.lpfnWndProc = windowProc;
        windowClass.hInstance = GetModuleHandleA(nullptr);
        windowClass.lpszClassName = className;
        RegisterClassA(&windowClass);
    }
    return CreateWindowA(className, title, WS_OVERLAPPEDWINDOW, 0, 0, 340, 440, nullptr, nullptr,
                         GetModuleHandleA(nullptr), nullptr);
}

RegistryValueSetAside::RegistryValueSetAside(const char* key, const char* name) : key_(key), name_(name)
{
    DWORD size = sizeof(value_);
    removed_ = RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value_, &size) == ERROR_SUCCESS &&
               RegDeleteKeyValueA(HKEY_CURRENT_USER, key, name) == ERROR_SUCCESS;
}

RegistryValueSetAside::~RegistryValueSetAside()
{
    if (removed_) {
        RegSetKeyValueA(HKEY_CURRENT_USER, key_.c_str(), name_.c_str(), REG_SZ, value_,
                        static_cast<DWORD>(strlen(value_) + 1));
    }
}

bool startProcess(std::string commandLine, DWORD flags, bool inheritHandles, STARTUPINFOA* startup,
                  PROCESS_INFORMATION* process)
{
    STARTUPINFOA defaults;
    ZeroMemory(&defaults, sizeof(defaults));
    defaults.cb = sizeof(defaults);
    for (int attempt = 0; attempt < 3; attempt++) {
        if (CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, inheritHandles ? TRUE : FALSE, flags, nullptr,
                           nullptr, startup != nullptr ? startup : &defaults, process)) {
            return true;
        }
        std::fprintf(stderr, "could not start %s (error %lu)\n", commandLine.c_str(), GetLastError());
        Sleep(200);
    }
    return false;
}

bool runProcess(const std::string& commandLine, int timeoutMs, STARTUPINFOA* startup, DWORD* exitCode)
{
    PROCESS_INFORMATION process;
    if (!startProcess(commandLine, 0, startup != nullptr, startup, &process)) {
        return false;
    }
    bool ended = WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0 &&
                 GetExitCodeProcess(process.hProcess, exitCode);
    if (!ended) {
        TerminateProcess(process.hProcess, 255);  // our own child, stuck
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ended;
}

bool runUnixCommand(const std::string& shellCommand, const std::string& result, int timeoutMs)
{
    std::string windowsResult = windowsPathOf(result);
    DeleteFileA(windowsResult.c_str());
    // Wine starts a Unix program without a process or thread object, yet
    // reports success with whatever its stack held in place of the two
    // handles: often a live handle of this process, which closing them would
    // take away from its owner. So they are left alone: they are not ours.
    PROCESS_INFORMATION process;
    if (!startProcess("/bin/sh -c \"" + shellCommand + "\"", 0, false, nullptr, &process)) {
        return false;
    }
    for (int waited = 0; waited < timeoutMs; waited += 20) {
        if (GetFileAttributesA(windowsResult.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        Sleep(20);
    }
    return false;
}

std::string printOutputFolder()
{
    const char* folder = std::getenv("PRINT_OUT_DIR");
    return folder != nullptr ? folder : "";
}

std::vector<std::string> printedFiles()
{
    std::vector<std::string> files;
    std::string folder = printOutputFolder();
    if (folder.empty()) {
        return files;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((windowsPathOf(folder) + "\\*.pdf").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        files.push_back(folder + "/" + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    std::sort(files.begin(), files.end());
    return files;
}

void clearPrintedFiles()
{
    for (const std::string& file : printedFiles()) {
        DeleteFileA(windowsPathOf(file).c_str());
    }
}

bool waitForPrintedFiles(size_t count, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 50) {
        if (printedFiles().size() >= count) {
            return true;
        }
        Sleep(50);
    }
    return printedFiles().size() >= count;
}

HWND waitForDialog(const char* caption, int timeoutMs)
{
    for (int waited = 0;; waited += 50) {
        HWND dialog = FindWindowA("#32770", caption);
        if (dialog != nullptr && IsWindowVisible(dialog)) {
            return dialog;
        }
        if (waited >= timeoutMs) {
            return nullptr;
        }
        Sleep(50);
    }
}

bool PrintedPage::isBlack(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width || y >= height) {
        return false;
    }
    return (rows[static_cast<size_t>(y) * ((width + 7) / 8) + x / 8] >> (7 - x % 8)) & 1;
}

double PrintedPage::blackShare(int x0, int y0, int x1, int y1) const
{
    int black = 0;
    int all = 0;
    for (int y = y0; y < y1; y++) {
        for (int x = x0; x < x1; x++) {
            black += isBlack(x, y) ? 1 : 0;
            all++;
        }
    }
    return all > 0 ? static_cast<double>(black) / all : 0.0;
}

std::string printedText(const std::string& pdf)
{
    std::string text = pdf + ".txt";
    if (!runUnixCommand("pdftotext '" + pdf + "' '" + text + ".part' && mv '" + text + ".part' '" + text + "'", text,
                        30000)) {
        return "";
    }
    std::string contents = readWholeFile(windowsPathOf(text));
    DeleteFileA(windowsPathOf(text).c_str());
    return contents;
}

PrintedPage printedPage(const std::string& pdf, int dpi)
{
    PrintedPage page = {0, 0, {}};
    std::string image = pdf + ".pbm";
    std::string command = "pdftoppm -mono -singlefile -r " + std::to_string(dpi) + " '" + pdf + "' '" + pdf +
                          ".part' && mv '" + pdf + ".part.pbm' '" + image + "'";
    if (!runUnixCommand(command, image, 30000)) {
        return page;
    }
    std::string contents = readWholeFile(windowsPathOf(image));
    DeleteFileA(windowsPathOf(image).c_str());
    int width = 0;
    int height = 0;
    int headerLength = 0;
    if (std::sscanf(contents.c_str(), "P4 %d %d%n", &width, &height, &headerLength) != 2) {
        return page;
    }
    size_t size = static_cast<size_t>((width + 7) / 8) * height;
    size_t start = static_cast<size_t>(headerLength) + 1;
    if (contents.size() < start + size) {
        return page;
    }
    page.width = width;
    page.height = height;
    page.rows.assign(contents.begin() + start, contents.begin() + start + size);
    return page;
}

const char highResolutionPrinter[] = "Fernquill Test PDF 600 dpi";

namespace {

// The value of attribute `name` in an XML start tag, as a number; a missing
// attribute reads as -1.
double attributeValue(const std::string& tag, const char* name)
{
    std::string key = std::string(" ") + name + "=\"";
    size_t at = tag.find(key);
    if (at == std::string::npos) {
        return -1;
    }
    return std::atof(tag.c_str() + at + key.size());
}

}  // namespace

// pdftotext -bbox writes XHTML with one element per word:
// <word xMin="56.7" yMin="49.2" xMax="89.1" yMax="58.9">MEMO</word>
std::vector<PrintedWord> printedWords(const std::string& pdf)
{
    std::vector<PrintedWord> words;
    std::string html = pdf + ".html";
    if (!runUnixCommand("pdftotext -bbox '" + pdf + "' '" + html + ".part' && mv '" + html + ".part' '" + html + "'",
                        html, 30000)) {
        return words;
    }
    std::string contents = readWholeFile(windowsPathOf(html));
    DeleteFileA(windowsPathOf(html).c_str());
    size_t at = 0;
    while ((at = contents.find("<word ", at)) != std::string::npos) {
        size_t tagEnd = contents.find('>', at);
        size_t close = contents.find("</word>", at);
        if (tagEnd == std::string::npos || close == std::string::npos || close < tagEnd) {
            break;
        }
        std::string tag = contents.substr(at, tagEnd - at);
        PrintedWord word = {contents.substr(tagEnd + 1, close - tagEnd - 1), attributeValue(tag, "xMin"),
                            attributeValue(tag, "yMin"), attributeValue(tag, "xMax"), attributeValue(tag, "yMax")};
        words.push_back(word);
        at = close;
    }
    return words;
}
