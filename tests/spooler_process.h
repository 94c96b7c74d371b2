// Test support under Wine: the spooler program run as a process of its own,
// the way its user starts it.
//
// Whatever happens to the test, the program does not outlive it: end() kills
// it if it still runs, and it runs in a job that kills it when the job's last
// handle closes, so a test killed from outside (a CTest timeout) leaves no
// spooler behind. Wine 8 keeps that promise too.
#ifndef FERNQUILL_TESTS_SPOOLER_PROCESS_H
#define FERNQUILL_TESTS_SPOOLER_PROCESS_H

#include <windows.h>
#include <psapi.h>

#include <string>

#include "tests/win_test_support.h"

const int spoolerExitTimeoutMs = 30000;

// Polls condition every 10 ms until it holds or timeoutMs have passed.
template <typename Condition>
bool waitFor(Condition condition, int timeoutMs)
{
    for (int waited = 0; waited < timeoutMs; waited += 10) {
        if (condition()) {
            return true;
        }
        Sleep(10);
    }
    return condition();
}

// A clean start for a test that runs the program: no printed files, no
// Palm Desktop registry values, and a new empty folder at *root to serve as
// the install folder. False if the folder can't be made.
bool beginProgramTest(std::string* root);

// Undoes it: the registry values, the folder and the printed files go.
void endProgramTest(const std::string& root);

// The main window ("FQSpoolClass") of the given process, or nullptr.
HWND findSpoolerWindow(DWORD process);

class SpoolerProcess {
public:
    SpoolerProcess() = default;
    ~SpoolerProcess() { end(); }
    SpoolerProcess(const SpoolerProcess&) = delete;
    SpoolerProcess& operator=(const SpoolerProcess&) = delete;

    // arguments: appended after a blank, if any.
    bool start(const std::string& programPath, const std::string& arguments = "")
    {
        return startCommand("\"" + windowsPathOf(programPath) + "\"" + (arguments.empty() ? "" : " " + arguments));
    }

    // Starts a command line as it stands, as Windows starts one from the
    // registry (a log-on entry).
    bool startCommand(std::string commandLine)
    {
        job_ = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits;
        ZeroMemory(&limits, sizeof(limits));
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job_ == nullptr ||
            !SetInformationJobObject(job_, JobObjectExtendedLimitInformation, &limits, sizeof(limits))) {
            return false;
        }
        // PRINT_OUT_DIR reaches the printer through the inherited environment.
        if (!startProcess(commandLine, CREATE_SUSPENDED, false, nullptr, &info_)) {
            return false;
        }
        if (!AssignProcessToJobObject(job_, info_.hProcess)) {
            end();
            return false;
        }
        return ResumeThread(info_.hThread) != static_cast<DWORD>(-1);
    }

    DWORD id() const { return info_.dwProcessId; }
    HANDLE handle() const { return info_.hProcess; }

    HWND waitForWindow(int timeoutMs)
    {
        HWND found = nullptr;
        waitFor(
            [&] {
                found = findSpoolerWindow(info_.dwProcessId);
                return found != nullptr;
            },
            timeoutMs);
        return found;
    }

    // The main window once the program's message loop runs, or nullptr.
    // Discovery notes the stamps of the spool files already there before the
    // loop starts, so a file written earlier would count as old and never
    // print. The loop is the first to answer a sent message; Wine's
    // WaitForInputIdle alone can return sooner.
    HWND waitUntilListening(int timeoutMs)
    {
        HWND window = waitForWindow(timeoutMs);
        DWORD_PTR answer = 0;
        if (window == nullptr || WaitForInputIdle(info_.hProcess, static_cast<DWORD>(timeoutMs)) != 0 ||
            SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, static_cast<UINT>(timeoutMs), &answer) == 0) {
            return nullptr;
        }
        return window;
    }

    bool running() const
    {
        return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
    }

    bool waitForExit(int timeoutMs, DWORD* exitCode)
    {
        if (WaitForSingleObject(info_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
            return false;
        }
        return GetExitCodeProcess(info_.hProcess, exitCode) != FALSE;
    }

    bool memory(PROCESS_MEMORY_COUNTERS* counters) const
    {
        ZeroMemory(counters, sizeof(*counters));
        counters->cb = sizeof(*counters);
        return GetProcessMemoryInfo(info_.hProcess, counters, sizeof(*counters)) != FALSE;
    }

    void end()
    {
        if (info_.hProcess != nullptr) {
            if (running()) {
                TerminateProcess(info_.hProcess, 255);
                WaitForSingleObject(info_.hProcess, spoolerExitTimeoutMs);
            }
            CloseHandle(info_.hThread);
            CloseHandle(info_.hProcess);
            info_ = PROCESS_INFORMATION();
        }
        if (job_ != nullptr) {
            CloseHandle(job_);
            job_ = nullptr;
        }
    }

private:
    HANDLE job_ = nullptr;
    PROCESS_INFORMATION info_ = {};
};

#endif
