// Under Wine or Windows: what the cancel window costs a print job of 30
// pages. The whole job is timed on the default printer (under Wine the PDF
// test printer; set PRINT_OUT_DIR), several times, for its time and its
// spread from run to run. Then the cancel window's own work is timed alone,
// call for call as such a job makes it: opened, each page's number shown and
// the window looked at four times a page (before the document, before the
// page and the document end, and once from the driver's abort procedure),
// then closed. Plain Win32 timing, as Google Benchmark is not built for
// Windows here.
//
// Usage: print_job_bench [job runs] [window runs]
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/win_clock.h"
#include "jobs/cancel_window.h"
#include "jobs/print_job.h"
#include "render/page_renderer.h"
#include "tests/spool_builder.h"

using namespace spooltest;

namespace {

const int pageCount = 30;

double millisecondsSince(LARGE_INTEGER start)
{
    return 1000.0 * secondsSince(start);
}

HWND benchWindow()
{
    WNDCLASSA windowClass;
    ZeroMemory(&windowClass, sizeof(windowClass));
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "FernquillPrintJobBench";
    RegisterClassA(&windowClass);
    return CreateWindowA(windowClass.lpszClassName, spoolerTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 340, 440,
                         nullptr, nullptr, windowClass.hInstance, nullptr);
}

double timeJob(const std::string& spoolPath, HWND window)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    runPrintJob(spoolPath.c_str(), window);
    return millisecondsSince(start);
}

double timeCancelWindow(HWND window)
{
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    openCancelWindow(window);
    for (int page = 1; page <= pageCount; page++) {
        cancelPressed();
        showCancelWindowPage(page);
        keepCancelWindowAnswering(nullptr, 0);
        cancelPressed();
        cancelPressed();
    }
    closeCancelWindow();
    return millisecondsSince(start);
}

void report(const char* what, std::vector<double> times)
{
    double sum = 0;
    for (double time : times) {
        sum += time;
    }
    double mean = sum / static_cast<double>(times.size());
    double squares = 0;
    for (double time : times) {
        squares += (time - mean) * (time - mean);
    }
    std::sort(times.begin(), times.end());
    std::printf("%s: mean %.3f ms, min %.3f, max %.3f, standard deviation %.3f (%zu runs)\n", what, mean,
                times.front(), times.back(), std::sqrt(squares / static_cast<double>(times.size())), times.size());
}

}  // namespace

int main(int argc, char** argv)
{
    int jobRuns = argc > 1 ? std::atoi(argv[1]) : 5;
    int windowRuns = argc > 2 ? std::atoi(argv[2]) : 50;
    SpoolDatabase database;
    for (int i = 1; i <= pageCount; i++) {
        database.records.push_back(textRecord("PAGE " + std::to_string(i) + "\nsecond line of the page\n"));
    }
    TempFile spool(buildSpoolFile(database));
    loadJobCursors();
    HWND window = benchWindow();
    if (!spool.written() || window == nullptr) {
        std::fprintf(stderr, "no spool file or no window\n");
        return 1;
    }

    std::vector<double> jobs;
    for (int i = 0; i < jobRuns; i++) {
        jobs.push_back(timeJob(spool.path(), window));
    }
    std::vector<double> windows;
    for (int i = 0; i < windowRuns; i++) {
        windows.push_back(timeCancelWindow(window));
    }
    std::printf("%d pages a job, %d pages printed in all\n", pageCount, spoolerCounters.pagesProcessed);
    report("job printed with its cancel window", jobs);
    report("the cancel window's part alone", windows);
    releaseScreenCopy();
    DestroyWindow(window);
    return 0;
}
