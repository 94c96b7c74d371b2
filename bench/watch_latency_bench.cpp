// spool_watch from a settled spool file to CUPS holding its job, for the
// twelve-page mixed job: the watcher runs as a program, with the default
// settling time, printing on a CUPS scheduler of the benchmark's own (the
// tests' private_cups.h). Each round writes the job with new bytes (its
// header's modification date moves on), and takes the time from the moment
// the file has been the same for the settling time to the watcher's line
// "printed ... as job N", which it writes once cupsFinishDestDocument has
// returned: CUPS holds the whole job then.
//
//     watch_latency_bench [ROUNDS]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_files.h"
#include "tests/private_cups.h"

namespace {

typedef std::chrono::steady_clock Clock;

const double settleSeconds = 2.0;  // spool_watch's default

// Reads the watcher's stderr until a line holding text arrives (or
// timeoutMs passes); the time it arrived, or nothing.
bool waitForLine(int pipe, const std::string& text, std::string* pending, Clock::time_point* at, int timeoutMs)
{
    Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        size_t found = pending->find(text);
        if (found != std::string::npos) {
            size_t lineEnd = pending->find('\n', found);
            if (lineEnd != std::string::npos) {
                pending->erase(0, lineEnd + 1);
                return true;
            }
        }
        int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
        struct pollfd ready = {pipe, POLLIN, 0};
        if (left <= 0 || poll(&ready, 1, left) <= 0) {
            return false;
        }
        char buffer[4096];
        ssize_t got = read(pipe, buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        *at = Clock::now();
        pending->append(buffer, static_cast<size_t>(got));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::atoi(argv[1]) : 10;
    PrivateCups cups;
    if (!cups.start()) {
        std::fprintf(stderr, "watch_latency_bench: %s\n", cups.error().c_str());
        return 1;
    }
    std::string home = cups.folder() + "/home";
    std::string folder = home + "/pilot";
    std::filesystem::create_directories(folder);
    int output[2];
    if (pipe(output) != 0) {
        return 1;
    }
    pid_t watcher = fork();
    if (watcher == 0) {
        dup2(output[1], 2);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_STATE_HOME", (home + "/state").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
        setenv("CUPS_SERVER", cups.server().c_str(), 1);
        execl(SPOOL_WATCH_PATH, "spool_watch", folder.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(output[1]);
    std::string pending;
    Clock::time_point at;
    if (!waitForLine(output[0], "watching 1 folder", &pending, &at, 10000)) {
        std::fprintf(stderr, "watch_latency_bench: spool_watch did not start\n");
        return 1;
    }
    spooltest::Bytes job = makeMixedSpoolFile();
    std::string path = folder + "/Fernquill Spool File.pdb";
    std::vector<double> latencies;
    for (int round = 0; round < rounds; round++) {
        job[40] = static_cast<unsigned char>(round);  // the modification date
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(job.data(), 1, job.size(), file);
        std::fclose(file);
        Clock::time_point settled =
            Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(settleSeconds));
        if (!waitForLine(output[0], "as job", &pending, &at, 30000)) {
            std::fprintf(stderr, "watch_latency_bench: no job in round %d\n%s\n", round + 1, pending.c_str());
            break;
        }
        latencies.push_back(std::chrono::duration<double>(at - settled).count());
    }
    kill(watcher, SIGTERM);
    waitpid(watcher, nullptr, 0);
    if (latencies.empty()) {
        return 1;
    }
    std::printf("each round, in ms:");
    for (double latency : latencies) {
        std::printf(" %.0f", latency * 1000);
    }
    std::printf("\n");
    std::sort(latencies.begin(), latencies.end());
    std::printf("settled file to CUPS holding the job, 12-page mixed job (%zu rounds): median %.3f s, "
                "min %.3f s, max %.3f s (%zu jobs in CUPS)\n",
                latencies.size(), latencies[latencies.size() / 2], latencies.front(), latencies.back(),
                cups.waitForJobs(latencies.size(), 10000));
    return latencies.back() <= 0.5 ? 0 : 1;
}
