#include "unix/cups_printer.h"

#include <cups/cups.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

struct CupsPrinter {
    cups_dest_t* dests;  // every destination, as cupsGetDests2 gives them
    int destCount;
    cups_dest_t* dest;   // ours, inside dests
    http_t* http;  // CUPS_HTTP_DEFAULT: the scheduler
    cups_dinfo_t* info;
};

namespace {

void sayFailure(char* failure, size_t capacity, const char* what)
{
    const char* detail = cupsLastErrorString();
    std::snprintf(failure, capacity, "%s%s%s", what, detail != nullptr && detail[0] != '\0' ? ": " : "",
                  detail != nullptr ? detail : "");
}

}  // namespace

CupsPrinter* openCupsPrinter(const char* name, PrinterMedia* media, char* failure, size_t capacity)
{
    CupsPrinter* printer = static_cast<CupsPrinter*>(std::calloc(1, sizeof(CupsPrinter)));
    if (printer == nullptr) {
        std::snprintf(failure, capacity, "not enough memory");
        return nullptr;
    }
    printer->destCount = cupsGetDests2(CUPS_HTTP_DEFAULT, &printer->dests);
    printer->dest = cupsGetDest(name, nullptr, printer->destCount, printer->dests);
    if (printer->dest == nullptr) {
        if (printer->destCount == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
            sayFailure(failure, capacity, "CUPS is not answering");
        } else if (name != nullptr) {
            std::snprintf(failure, capacity, "CUPS has no printer %s", name);
        } else {
            std::snprintf(failure, capacity, "CUPS has no default printer");
        }
        closeCupsPrinter(printer);
        return nullptr;
    }
    // The scheduler's own connection, as CUPS's examples use for its queues;
    // it hands the job on to the printer itself.
    printer->http = CUPS_HTTP_DEFAULT;
    printer->info = cupsCopyDestInfo(printer->http, printer->dest);
    if (printer->info == nullptr) {
        sayFailure(failure, capacity, "cannot reach the printer through CUPS");
        closeCupsPrinter(printer);
        return nullptr;
    }
    // libcups 2.4's cupsGetDestMediaDefault() takes the locale's paper
    // (Letter under "C") unless the destination's options name a media, and
    // a queue's own default lies in its attributes: that one is asked for
    // by name, with its margins.
    cups_size_t size;
    ipp_attribute_t* defaultMedia = cupsFindDestDefault(printer->http, printer->dest, printer->info, "media");
    const char* mediaName = defaultMedia != nullptr ? ippGetString(defaultMedia, 0, nullptr) : nullptr;
    bool known = mediaName != nullptr && cupsGetDestMediaByName(printer->http, printer->dest, printer->info,
                                                                mediaName, CUPS_MEDIA_FLAGS_DEFAULT, &size);
    if (!known &&
        !cupsGetDestMediaDefault(printer->http, printer->dest, printer->info, CUPS_MEDIA_FLAGS_DEFAULT, &size)) {
        sayFailure(failure, capacity, "the printer names no default media");
        closeCupsPrinter(printer);
        return nullptr;
    }
    *media = {size.width, size.length, size.left, size.right, size.top, size.bottom};
    return printer;
}

const char* cupsPrinterName(const CupsPrinter* printer)
{
    return printer->dest->name;
}

int printPdfOnCups(CupsPrinter* printer, const char* title, const unsigned char* pdf, uint32_t size, int* jobId,
                   char* failure, size_t capacity)
{
    int job = 0;
    if (cupsCreateDestJob(printer->http, printer->dest, printer->info, &job, title, 0, nullptr) != IPP_STATUS_OK) {
        sayFailure(failure, capacity, "CUPS refused the job");
        return -1;
    }
    bool sent = cupsStartDestDocument(printer->http, printer->dest, printer->info, job, title, CUPS_FORMAT_PDF, 0,
                                      nullptr, 1) == HTTP_STATUS_CONTINUE;
    if (sent) {
        sent = cupsWriteRequestData(printer->http, reinterpret_cast<const char*>(pdf), size) == HTTP_STATUS_CONTINUE;
    }
    // Finished even when the writing failed, to read CUPS's answer.
    ipp_status_t finished = cupsFinishDestDocument(printer->http, printer->dest, printer->info);
    if (!sent || finished > IPP_STATUS_OK_EVENTS_COMPLETE) {
        sayFailure(failure, capacity, "CUPS did not take the document");
        cupsCancelDestJob(printer->http, printer->dest, job);
        return -1;
    }
    *jobId = job;
    return 0;
}

void closeCupsPrinter(CupsPrinter* printer)
{
    if (printer == nullptr) {
        return;
    }
    if (printer->info != nullptr) {
        cupsFreeDestInfo(printer->info);
    }
    cupsFreeDests(printer->destCount, printer->dests);
    std::free(printer);
}
