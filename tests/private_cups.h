// A CUPS scheduler of the test's own: cupsd with its configuration in a
// temporary folder, listening on a free loopback port, with one queue,
// "fernquill-test", whose jobs are written as files.
//
// The queue passes a PDF through untouched: its PPD takes application/pdf
// as the printer's own language, and its back end (a shell script of ours)
// copies each job's document to <jobs>/job-<id>.pdf, whole once it appears.
// The PPD's default media is A4 with margins of 6.35 mm left and right and
// 12.7 mm top and bottom, so a job laid out on the queue's media shows it.
// Test-only code: it may use classes and the standard containers.
#ifndef FERNQUILL_TESTS_PRIVATE_CUPS_H
#define FERNQUILL_TESTS_PRIVATE_CUPS_H

#include <sys/types.h>

#include <string>
#include <vector>

class PrivateCups {
public:
    // Writes the configuration; start() starts the scheduler.
    PrivateCups();
    // Stops the scheduler and removes the folder.
    ~PrivateCups();
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;

    // Starts cupsd and waits (bounded) until it answers. False on failure,
    // with the reason in error().
    bool start();
    // Stops it and waits for it to end.
    void stop();

    // "127.0.0.1:PORT", for CUPS_SERVER.
    std::string server() const;
    // The jobs' files so far, in job order.
    std::vector<std::string> jobFiles() const;
    // Waits up to timeoutMs for count job files; returns how many there are.
    size_t waitForJobs(size_t count, int timeoutMs) const;
    const std::string& folder() const { return folder_; }
    const std::string& error() const { return error_; }

    static const char* queueName() { return "fernquill-test"; }

private:
    std::string folder_;
    std::string jobs_;
    int port_;
    pid_t pid_;
    std::string error_;
};

#endif
