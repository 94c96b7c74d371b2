// Gives a Wine prefix a default printer that turns every print document into
// a PDF file of its own, so the print tests can read back what was printed.
//
// How it works, and the Wine 8 quirks it works around:
// - The printer runs on Wine's PostScript driver with the generic PPD that
//   Wine keeps inside winspool.drv as resource "PPDFILE" #1. The driver
//   install copies the PPD from a file, so it is written to a temporary file
//   first and removed afterwards.
// - The printer's port is the short name "FQPDF:". When the spooler schedules
//   a job it looks the port up under HKCU\Software\Wine\Printing\Spooler and
//   prints to what it finds there: a "|" pipe into ps2pdf. A short port keeps
//   the printer's level-5 description (36 bytes plus both names in UTF-16,
//   even from the ANSI calls) small. The command holds no comma: the print
//   processor opens the port as "<command>, Port", which OpenPrinter cuts at
//   the first comma.
// - The command runs under /bin/sh with the environment of the process that
//   prints, so PRINT_OUT_DIR must be set in that process, not here. Ghostscript
//   writes under a temporary name that is renamed when it ends, so a file
//   named *.pdf is always whole. The name is the time in nanoseconds:
//   documents printed one after the other sort in printing order. When
//   Ghostscript fails (a font of height 0 gives a zero font matrix, and the
//   page comes out blank) the PDF is still renamed, so a test sees the blank
//   page instead of waiting, and EndDoc reports the failure.
// - A real printer can't print at the edges of the sheet, and tells so by
//   its physical offsets. The PostScript driver takes them from the PPD's
//   *ImageableArea of the paper, so every paper's imageable area is written
//   anew with quarter-inch margins (18 pt, 75 px at 300 dpi), whatever the
//   generic PPD of this Wine version says. The PDF still holds the whole
//   sheet: the margins are where nothing should land.
// - Port "FILE:" would pop up a file name dialog, and print processor
//   "wineps" prints nothing: the printer uses "winprint" with RAW data.
// - The paper is A4 unless the per-printer "PPD Overrides" value
//   "DefaultPageSize" names another size. The PostScript driver reads it
//   when it first loads the printer's PPD in a process, so the process that
//   sets it keeps A4.
// - Wine keeps the default printer in the "Device" value under
//   HKCU\Software\Microsoft\Windows NT\CurrentVersion\Windows; --none
//   removes it if deleting the printer leaves it behind.
// - Wine's EnumPrinters with PRINTER_ENUM_DEFAULT alone always succeeds with
//   no printer (it behaves like Windows NT, where the flag was for 9x only),
//   so the default printer is checked with GetDefaultPrinterA instead.
// - The resolution is 300 dpi, the PostScript driver's own default, unless
//   --dpi names another that the PPD offers (150, 300, 600, 1200, 2400). The
//   driver takes it from the printer's per-user settings (SetPrinter level
//   9), which it reads, like the paper, when it first loads the printer in a
//   process: only processes started from now on print at that resolution.
// - --keep-default adds the printer beside the default one, for tests that
//   print on it by name or make it the default for a while.
//
// Usage: setup_test_printer [--letter] [--dpi N] [--keep-default] [--name NAME]
//        setup_test_printer --none [--name NAME]
// Prints what it did; exits 0 on success, 1 on failure, 2 on bad usage.
#include <windows.h>
#include <winspool.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

const char defaultPrinterName[] = "Fernquill Test PDF";
const char driverName[] = "Wine PostScript Driver";
const char portName[] = "FQPDF:";
const char spoolerKey[] = "Software\\Wine\\Printing\\Spooler";
const char windowsKey[] = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows";
// ${PRINT_OUT_DIR:?} makes the shell fail loudly instead of writing to "/".
const char pipeCommand[] =
    "|f=\"${PRINT_OUT_DIR:?}/job-$(date +%s%N)\"; "
    "ps2pdf - \"$f.part\"; s=$?; mv \"$f.part\" \"$f.pdf\"; exit $s";

struct SetupOptions {
    const char* printerName;
    bool letterPaper;
    int dpi;            // 0: the driver's default
    bool keepDefault;   // leave the default printer as it is
    bool noPrinter;
};

void reportFailure(const char* what, DWORD error)
{
    std::fprintf(stderr, "setup_test_printer: %s failed (error %lu)\n", what, static_cast<unsigned long>(error));
}

int parseOptions(int argc, char** argv, SetupOptions* options)
{
    options->printerName = defaultPrinterName;
    options->letterPaper = false;
    options->dpi = 0;
    options->keepDefault = false;
    options->noPrinter = false;
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--letter") == 0) {
            options->letterPaper = true;
        } else if (std::strcmp(argv[i], "--dpi") == 0 && i + 1 < argc) {
            options->dpi = std::atoi(argv[++i]);
            if (options->dpi <= 0) {
                return -1;
            }
        } else if (std::strcmp(argv[i], "--keep-default") == 0) {
            options->keepDefault = true;
        } else if (std::strcmp(argv[i], "--none") == 0) {
            options->noPrinter = true;
        } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc && argv[i + 1][0] != '\0') {
            options->printerName = argv[++i];
        } else {
            return -1;
        }
    }
    if (options->noPrinter && (options->letterPaper || options->dpi != 0 || options->keepDefault)) {
        return -1;
    }
    return 0;
}

// The margin the test printers can't print on, in points.
const int marginPoints = 18;

// The keyword of a PPD line "*Main Keyword/Text: value": "Keyword".
std::string optionKeyword(const std::string& line, const std::string& main)
{
    size_t end = line.find_first_of("/:", main.size());
    return end == std::string::npos ? std::string() : line.substr(main.size(), end - main.size());
}

// The PPD with every paper's imageable area set to leave marginPoints on
// each edge of its *PaperDimension.
std::string withMargins(const std::string& ppd)
{
    const std::string dimension = "*PaperDimension ";
    const std::string area = "*ImageableArea ";
    std::map<std::string, std::pair<int, int>> papers;
    std::istringstream lines(ppd);
    for (std::string line; std::getline(lines, line);) {
        size_t quote = line.find('"');
        int width = 0;
        int height = 0;
        if (line.compare(0, dimension.size(), dimension) == 0 && quote != std::string::npos &&
            std::sscanf(line.c_str() + quote + 1, "%d %d", &width, &height) == 2) {
            papers[optionKeyword(line, dimension)] = {width, height};
        }
    }
    std::string result;
    std::istringstream again(ppd);
    for (std::string line; std::getline(again, line);) {
        auto paper = papers.end();
        size_t quote = line.find('"');
        if (line.compare(0, area.size(), area) == 0 && quote != std::string::npos) {
            paper = papers.find(optionKeyword(line, area));
        }
        if (paper != papers.end()) {
            char value[64];
            std::snprintf(value, sizeof value, "\"%d %d %d %d\"", marginPoints, marginPoints,
                          paper->second.first - marginPoints, paper->second.second - marginPoints);
            line = line.substr(0, quote) + value + (line.back() == '\r' ? "\r" : "");
        }
        result += line + "\n";
    }
    return result;
}

// Writes the generic PPD from winspool.drv's resources, with the test
// printers' margins, to a temporary file named in ppdPath (MAX_PATH
// characters).
int extractGenericPpd(char* ppdPath)
{
    HMODULE winspool = LoadLibraryExA("winspool.drv", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (winspool == nullptr) {
        reportFailure("LoadLibraryExA(winspool.drv)", GetLastError());
        return -1;
    }
    HRSRC resource = FindResourceA(winspool, MAKEINTRESOURCEA(1), "PPDFILE");
    HGLOBAL loaded = resource != nullptr ? LoadResource(winspool, resource) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = resource != nullptr ? SizeofResource(winspool, resource) : 0;
    if (data == nullptr || size == 0) {
        reportFailure("finding resource PPDFILE #1 in winspool.drv", GetLastError());
        FreeLibrary(winspool);
        return -1;
    }

    char tempDir[MAX_PATH];
    DWORD dirLength = GetTempPathA(MAX_PATH, tempDir);
    if (dirLength == 0 || dirLength >= MAX_PATH || GetTempFileNameA(tempDir, "fqp", 0, ppdPath) == 0) {
        reportFailure("making a temporary file", GetLastError());
        FreeLibrary(winspool);
        return -1;
    }
    HANDLE file = CreateFileA(ppdPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reportFailure("CreateFileA(PPD)", GetLastError());
        DeleteFileA(ppdPath);
        FreeLibrary(winspool);
        return -1;
    }
    std::string ppd = withMargins(std::string(static_cast<const char*>(data), size));
    FreeLibrary(winspool);
    DWORD written = 0;
    BOOL wrote = WriteFile(file, ppd.data(), static_cast<DWORD>(ppd.size()), &written, nullptr);
    DWORD writeError = GetLastError();
    CloseHandle(file);
    if (!wrote || written != ppd.size()) {
        reportFailure("WriteFile(PPD)", writeError);
        DeleteFileA(ppdPath);
        return -1;
    }
    std::printf("Extracted the generic PPD (%lu bytes) to %s, with %d pt margins\n",
                static_cast<unsigned long>(size), ppdPath, marginPoints);
    return 0;
}

// A 32-bit program prints through the driver of the "Windows NT x86"
// environment, a 64-bit one through that of "Windows x64": with only the
// setup's own environment, StartDoc fails in the other kind of program.
int installDriver(const char* ppdPath)
{
    const char* const environments[] = {nullptr, "Windows NT x86"};
    for (const char* environment : environments) {
        DRIVER_INFO_3A driver = {};
        driver.cVersion = 3;
        driver.pName = const_cast<char*>(driverName);
        driver.pEnvironment = const_cast<char*>(environment);
        driver.pDriverPath = const_cast<char*>("wineps.drv");
        driver.pConfigFile = const_cast<char*>("wineps.drv");
        driver.pDataFile = const_cast<char*>(ppdPath);
        driver.pDefaultDataType = const_cast<char*>("RAW");
        if (!AddPrinterDriverExA(nullptr, 3, reinterpret_cast<BYTE*>(&driver),
                                 APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY)) {
            reportFailure("AddPrinterDriverExA", GetLastError());
            return -1;
        }
        std::printf("Installed driver \"%s\" for %s\n", driverName,
                    environment != nullptr ? environment : "this program's environment");
    }
    return 0;
}

// Returns 0 when the printer is gone or was never there.
int deletePrinterIfPresent(const char* name)
{
    PRINTER_DEFAULTSA access = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<char*>(name), &printer, &access)) {
        return 0;
    }
    BOOL deleted = DeletePrinter(printer);
    DWORD error = GetLastError();
    ClosePrinter(printer);
    if (!deleted) {
        reportFailure("DeletePrinter", error);
        return -1;
    }
    std::printf("Deleted printer \"%s\"\n", name);
    return 0;
}

int setSpoolerPipe()
{
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_CURRENT_USER, spoolerKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS) {
        reportFailure("RegCreateKeyExA(Wine\\Printing\\Spooler)", static_cast<DWORD>(result));
        return -1;
    }
    result = RegSetValueExA(key, portName, 0, REG_SZ, reinterpret_cast<const BYTE*>(pipeCommand), sizeof pipeCommand);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        reportFailure("RegSetValueExA(port command)", static_cast<DWORD>(result));
        return -1;
    }
    std::printf("Port %s prints to: %s\n", portName, pipeCommand);
    return 0;
}

// Deletes a registry value; a value that is not there counts as deleted.
int deleteUserValue(const char* keyName, const char* valueName)
{
    HKEY key = nullptr;
    LONG result = RegOpenKeyExA(HKEY_CURRENT_USER, keyName, 0, KEY_SET_VALUE, &key);
    if (result == ERROR_FILE_NOT_FOUND) {
        return 0;
    }
    if (result == ERROR_SUCCESS) {
        result = RegDeleteValueA(key, valueName);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND) {
        reportFailure("deleting a registry value", static_cast<DWORD>(result));
        return -1;
    }
    return 0;
}

// Stores the printer's settings, as the driver gives them, with another
// resolution as its per-user settings, where the PostScript driver reads
// them from.
int setResolution(HANDLE printer, const char* name, int dpi)
{
    char* deviceName = const_cast<char*>(name);
    LONG size = DocumentPropertiesA(nullptr, printer, deviceName, nullptr, nullptr, 0);
    if (size <= 0) {
        reportFailure("DocumentPropertiesA(size)", GetLastError());
        return -1;
    }
    std::vector<char> buffer(static_cast<size_t>(size));
    DEVMODEA* settings = reinterpret_cast<DEVMODEA*>(buffer.data());
    if (DocumentPropertiesA(nullptr, printer, deviceName, settings, nullptr, DM_OUT_BUFFER) != IDOK) {
        reportFailure("DocumentPropertiesA(settings)", GetLastError());
        return -1;
    }
    settings->dmFields |= DM_PRINTQUALITY | DM_YRESOLUTION;
    settings->dmPrintQuality = static_cast<short>(dpi);
    settings->dmYResolution = static_cast<short>(dpi);
    PRINTER_INFO_9A perUser = {settings};
    if (!SetPrinterA(printer, 9, reinterpret_cast<BYTE*>(&perUser), 0)) {
        reportFailure("SetPrinterA(level 9)", GetLastError());
        return -1;
    }
    std::printf("Resolution: %d dpi, for processes started from now on\n", dpi);
    return 0;
}

int addPdfPrinter(const SetupOptions& options)
{
    PRINTER_INFO_2A info = {};
    info.pPrinterName = const_cast<char*>(options.printerName);
    info.pPortName = const_cast<char*>(portName);
    info.pDriverName = const_cast<char*>(driverName);
    info.pPrintProcessor = const_cast<char*>("winprint");
    info.pDatatype = const_cast<char*>("RAW");
    info.Attributes = PRINTER_ATTRIBUTE_LOCAL;
    HANDLE printer = AddPrinterA(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (printer == nullptr) {
        reportFailure("AddPrinterA", GetLastError());
        return -1;
    }
    std::printf("Added printer \"%s\" on port %s\n", options.printerName, portName);

    int status = 0;
    if (options.letterPaper) {
        static const char letter[] = "Letter";
        DWORD error = SetPrinterDataExA(printer, "PPD Overrides", "DefaultPageSize", REG_SZ,
                                        reinterpret_cast<BYTE*>(const_cast<char*>(letter)), sizeof letter);
        if (error != ERROR_SUCCESS) {
            reportFailure("SetPrinterDataExA(PPD Overrides)", error);
            status = -1;
        } else {
            // The driver has already loaded this printer's PPD in this
            // process, so only processes started from now on see Letter.
            std::printf("Paper: Letter, for processes started from now on\n");
        }
    }
    if (status == 0 && options.dpi != 0) {
        status = setResolution(printer, options.printerName, options.dpi);
    }
    ClosePrinter(printer);
    return status;
}

int makeDefault(const char* name)
{
    if (!SetDefaultPrinterA(name)) {
        reportFailure("SetDefaultPrinterA", GetLastError());
        return -1;
    }
    std::printf("Default printer: \"%s\"\n", name);
    return 0;
}

// Shows what the print tests will meet: the default printer, the size of
// its level-5 description and, if asked, the device capabilities of a DC
// on it.
int reportDefaultPrinter(const char* expectedName, bool showDevice)
{
    char name[256];
    DWORD length = sizeof name;
    if (!GetDefaultPrinterA(name, &length)) {
        reportFailure("GetDefaultPrinterA", GetLastError());
        return -1;
    }
    if (std::strcmp(name, expectedName) != 0) {
        std::fprintf(stderr, "setup_test_printer: the default printer is \"%s\", not \"%s\"\n", name, expectedName);
        return -1;
    }

    HANDLE printer = nullptr;
    if (!OpenPrinterA(name, &printer, nullptr)) {
        reportFailure("OpenPrinterA", GetLastError());
        return -1;
    }
    DWORD needed = 0;
    GetPrinterA(printer, 5, nullptr, 0, &needed);
    ClosePrinter(printer);
    std::printf("Level-5 description: %lu bytes\n", static_cast<unsigned long>(needed));
    DWORD returned = 0;
    needed = 0;
    EnumPrintersA(PRINTER_ENUM_DEFAULT, nullptr, 5, nullptr, 0, &needed, &returned);
    std::printf("EnumPrintersA(PRINTER_ENUM_DEFAULT) asks for %lu bytes%s\n", static_cast<unsigned long>(needed),
                needed == 0 ? ": Wine returns no printer for it" : "");

    if (!showDevice) {
        return 0;
    }
    HDC dc = CreateDCA(nullptr, name, nullptr, nullptr);
    if (dc == nullptr) {
        reportFailure("CreateDCA", GetLastError());
        return -1;
    }
    std::printf("Device: %d x %d dots at %d x %d dpi, paper %d x %d, offset %d, %d\n", GetDeviceCaps(dc, HORZRES),
                GetDeviceCaps(dc, VERTRES), GetDeviceCaps(dc, LOGPIXELSX), GetDeviceCaps(dc, LOGPIXELSY),
                GetDeviceCaps(dc, PHYSICALWIDTH), GetDeviceCaps(dc, PHYSICALHEIGHT), GetDeviceCaps(dc, PHYSICALOFFSETX),
                GetDeviceCaps(dc, PHYSICALOFFSETY));
    DeleteDC(dc);
    return 0;
}

int installPdfPrinter(const SetupOptions& options)
{
    char ppdPath[MAX_PATH];
    if (extractGenericPpd(ppdPath) != 0) {
        return -1;
    }
    int status = installDriver(ppdPath);
    DeleteFileA(ppdPath);
    if (status != 0) {
        return -1;
    }
    // A fresh printer: a rerun must not keep the paper of the last one.
    if (deletePrinterIfPresent(options.printerName) != 0 || setSpoolerPipe() != 0 || addPdfPrinter(options) != 0) {
        return -1;
    }
    if (options.keepDefault) {
        return 0;
    }
    if (makeDefault(options.printerName) != 0) {
        return -1;
    }
    return reportDefaultPrinter(options.printerName, !options.letterPaper && options.dpi == 0);
}

int removeDefaultPrinter(const SetupOptions& options)
{
    if (deletePrinterIfPresent(options.printerName) != 0 || deleteUserValue(windowsKey, "Device") != 0) {
        return -1;
    }
    char name[256];
    DWORD length = sizeof name;
    if (GetDefaultPrinterA(name, &length)) {
        std::fprintf(stderr, "setup_test_printer: there is still a default printer (\"%s\")\n", name);
        return -1;
    }
    std::printf("No default printer\n");
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    SetupOptions options;
    if (parseOptions(argc, argv, &options) != 0) {
        std::fprintf(stderr,
                     "usage: setup_test_printer [--letter] [--dpi N] [--keep-default] [--name NAME]\n"
                     "       setup_test_printer --none [--name NAME]\n");
        return 2;
    }
    int status = options.noPrinter ? removeDefaultPrinter(options) : installPdfPrinter(options);
    std::fflush(stdout);
    return status == 0 ? 0 : 1;
}
