#include "tests/private_cups.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/spool_builder.h"

namespace fs = std::filesystem;

namespace {

const char backendScript[] =
    "#!/bin/sh\n"
    "# Asked for its devices (no arguments): none to offer.\n"
    "[ $# -eq 0 ] && exit 0\n"
    "out=\"${DEVICE_URI#fqcapture:}\"\n"
    "if [ -n \"$6\" ]; then cp \"$6\" \"$out/.job-$1\"; else cat >\"$out/.job-$1\"; fi || exit 1\n"
    "mv \"$out/.job-$1\" \"$out/job-$1.pdf\"\n";

const char ppd[] =
    "*PPD-Adobe: \"4.3\"\n"
    "*FormatVersion: \"4.3\"\n"
    "*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n"
    "*LanguageEncoding: ISOLatin1\n"
    "*PCFileName: \"FQTEST.PPD\"\n"
    "*Manufacturer: \"Fernquill\"\n"
    "*Product: \"(Fernquill Test)\"\n"
    "*ModelName: \"Fernquill Test Printer\"\n"
    "*ShortNickName: \"Fernquill Test Printer\"\n"
    "*NickName: \"Fernquill Test Printer\"\n"
    "*PSVersion: \"(3010.000) 0\"\n"
    "*LanguageLevel: \"3\"\n"
    "*ColorDevice: False\n"
    "*DefaultColorSpace: Gray\n"
    "*FileSystem: False\n"
    "*Throughput: \"1\"\n"
    "*TTRasterizer: Type42\n"
    "*cupsFilter: \"application/pdf 0 -\"\n"
    "*OpenUI *PageSize/Media Size: PickOne\n"
    "*OrderDependency: 10 AnySetup *PageSize\n"
    "*DefaultPageSize: A4\n"
    "*PageSize Letter/US Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
    "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
    "*CloseUI: *PageSize\n"
    "*OpenUI *PageRegion: PickOne\n"
    "*OrderDependency: 10 AnySetup *PageRegion\n"
    "*DefaultPageRegion: A4\n"
    "*PageRegion Letter/US Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
    "*PageRegion A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
    "*CloseUI: *PageRegion\n"
    "*DefaultImageableArea: A4\n"
    "*ImageableArea Letter/US Letter: \"18 36 594 756\"\n"
    "*ImageableArea A4/A4: \"18 36 577 806\"\n"
    "*DefaultPaperDimension: A4\n"
    "*PaperDimension Letter/US Letter: \"612 792\"\n"
    "*PaperDimension A4/A4: \"595 842\"\n";

void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path) << text;
}

// A port nothing listens on now, picked by the kernel.
int freeLoopbackPort()
{
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    close(probe);
    return port;
}

bool answers(int port)
{
    int probe = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    bool connected = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return connected;
}

}  // namespace

PrivateCups::PrivateCups() : folder_(spooltest::uniqueTempPath()), port_(freeLoopbackPort()), pid_(-1)
{
    jobs_ = folder_ + "/jobs";
    for (const char* sub : {"", "/jobs", "/spool", "/spool/temp", "/log", "/cache", "/state", "/bin",
                            "/bin/backend", "/ppd"}) {
        fs::create_directories(folder_ + sub);
    }
    // cupsd hands jobs to its back ends as another user unless they are
    // private to their owner; the jobs folder takes them either way.
    chmod(jobs_.c_str(), 0777);
    fs::create_symlink("/usr/lib/cups/daemon", folder_ + "/bin/daemon");
    fs::create_symlink("/usr/lib/cups/filter", folder_ + "/bin/filter");
    std::string backend = folder_ + "/bin/backend/fqcapture";
    writeText(backend, backendScript);
    chmod(backend.c_str(), 0700);
    writeText(folder_ + "/ppd/" + queueName() + ".ppd", ppd);
    writeText(folder_ + "/cups-files.conf",
              "FileDevice No\nPrintcap\nServerRoot " + folder_ + "\nStateDir " + folder_ + "/state\nServerBin " +
                  folder_ + "/bin\nCacheDir " + folder_ + "/cache\nRequestRoot " + folder_ + "/spool\nTempDir " +
                  folder_ + "/spool/temp\nAccessLog " + folder_ + "/log/access_log\nErrorLog " + folder_ +
                  "/log/error_log\nPageLog " + folder_ + "/log/page_log\nSandboxing Relaxed\n");
    writeText(folder_ + "/cupsd.conf", "Listen 127.0.0.1:" + std::to_string(port_) +
                                           "\nBrowsing Off\nLogLevel info\nWebInterface No\n"
                                           "PreserveJobHistory Yes\nPreserveJobFiles No\n"
                                           "<Policy default>\n<Limit All>\nOrder Allow,Deny\nAllow from 127.0.0.1\n"
                                           "</Limit>\n</Policy>\n");
    writeText(folder_ + "/printers.conf", std::string("<DefaultPrinter ") + queueName() +
                                              ">\nInfo Fernquill test queue\nDeviceURI fqcapture:" + jobs_ +
                                              "\nState Idle\nAccepting Yes\nShared No\n</DefaultPrinter>\n");
}

PrivateCups::~PrivateCups()
{
    stop();
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
}

bool PrivateCups::start()
{
    if (pid_ > 0) {
        return true;
    }
    if (port_ == 0) {
        error_ = "no free loopback port";
        return false;
    }
    std::string log = folder_ + "/log/cupsd.out";
    pid_ = fork();
    if (pid_ == 0) {
        int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(out, 1);
        dup2(out, 2);
        execl("/usr/sbin/cupsd", "cupsd", "-f", "-c", (folder_ + "/cupsd.conf").c_str(), "-s",
              (folder_ + "/cups-files.conf").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int tries = 0; tries < 200; tries++) {
        if (answers(port_)) {
            return true;
        }
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            error_ = "cupsd ended at once; see " + log;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    error_ = "cupsd did not answer within 5 s";
    return false;
}

void PrivateCups::stop()
{
    if (pid_ <= 0) {
        return;
    }
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::string PrivateCups::server() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> PrivateCups::jobFiles() const
{
    std::vector<std::pair<int, std::string>> found;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(jobs_, error)) {
        std::string name = entry.path().filename().string();
        if (name.rfind("job-", 0) == 0) {
            found.emplace_back(std::atoi(name.c_str() + 4), entry.path().string());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> files;
    for (const auto& job : found) {
        files.push_back(job.second);
    }
    return files;
}

size_t PrivateCups::waitForJobs(size_t count, int timeoutMs) const
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (jobFiles().size() < count && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return jobFiles().size();
}
