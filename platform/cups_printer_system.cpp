#include <cups/cups.h>
#include <cups/pwg.h>

#include <cstdio>
#include <iterator>
#include <memory>

#include "platform/code_page_convert.h"
#include "platform/printer_system.h"

namespace paginor {

namespace {

std::string serverName() {
    const char* server = cupsServer();
    std::string name = server != nullptr ? server : "";
    if (!name.empty() && name[0] != '/')
        name += ":" + std::to_string(ippPort());
    return name;
}

// Whether the server takes a connection; text receives CUPS's words when it does not.
bool serverAnswers(std::string& text) {
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                5000, nullptr);
    if (http != nullptr) {
        httpClose(http);
        return true;
    }
    const char* words = cupsLastErrorString();
    text = words != nullptr && *words ? words : "no answer";
    return false;
}

// The last failure in CUPS's words; a server that does not answer is named as such, since
// libcups then reports even a known printer as missing.
std::string cupsError(const std::string& what) {
    const char* text = cupsLastErrorString();
    const std::string own = what + ": " + (text && *text ? text : "unknown printer system error");
    std::string down;
    if (!serverAnswers(down))
        return "The print system (CUPS) at " + serverName() + " cannot be reached: " + down;
    return own;
}

struct DestsDeleter {
    int count;
    void operator()(cups_dest_t* dests) const { cupsFreeDests(count, dests); }
};

struct DestDeleter {
    void operator()(cups_dest_t* dest) const { cupsFreeDests(1, dest); }
};

struct InfoDeleter {
    void operator()(cups_dinfo_t* info) const { cupsFreeDestInfo(info); }
};

using DestPtr = std::unique_ptr<cups_dest_t, DestDeleter>;
using InfoPtr = std::unique_ptr<cups_dinfo_t, InfoDeleter>;

// Lists the destinations; an empty list is no error unless the server could not be asked.
bool listDests(std::vector<std::pair<std::string, bool>>& found, std::string& error) {
    found.clear();
    cups_dest_t* dests = nullptr;
    const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
    std::unique_ptr<cups_dest_t, DestsDeleter> owner(dests, DestsDeleter{count});
    if (count == 0 && cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE &&
        cupsLastError() != IPP_STATUS_ERROR_NOT_FOUND) {
        error = cupsError("Cannot list the printers");
        return false;
    }
    for (int i = 0; i < count; ++i) {
        if (dests[i].instance == nullptr)
            found.emplace_back(dests[i].name, dests[i].is_default != 0);
    }
    return true;
}

bool findDest(const std::string& name, DestPtr& dest, std::string& error) {
    if (name.empty()) {
        error = "No printer was named";
        return false;
    }
    dest.reset(cupsGetNamedDest(CUPS_HTTP_DEFAULT, name.c_str(), nullptr));
    if (!dest) {
        error = cupsError("No printer \"" + name + "\"");
        return false;
    }
    return true;
}

bool openDest(const std::string& name, DestPtr& dest, InfoPtr& info, std::string& error) {
    if (!findDest(name, dest, error)) {
        return false;
    }
    info.reset(cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest.get()));
    if (!info) {
        error = cupsError("Cannot ask printer \"" + name + "\"");
        return false;
    }
    return true;
}

struct HttpDeleter {
    void operator()(http_t* http) const { httpClose(http); }
};

PrinterMedia toMedia(http_t* http, cups_dest_t* dest, cups_dinfo_t* info, cups_size_t& size) {
    PrinterMedia media;
    media.pwgName = size.media;
    if (const pwg_media_t* known = pwgMediaForPWG(size.media); known && known->ppd)
        media.ppdName = known->ppd;
    // Localising needs a connection of its own.
    const char* text = http ? cupsLocalizeDestMedia(http, dest, info, 0, &size) : nullptr;
    media.displayName = text ? text : media.ppdName;
    media.width = size.width;
    media.length = size.length;
    media.left = size.left;
    media.right = size.right;
    media.top = size.top;
    media.bottom = size.bottom;
    return media;
}

}  // namespace

bool CupsPrinterSystem::destinations(std::vector<std::string>& names, std::string& error) {
    names.clear();
    std::vector<std::pair<std::string, bool>> found;
    if (!listDests(found, error))
        return false;
    for (auto& [name, isDefault] : found)
        names.push_back(name);
    return true;
}

bool CupsPrinterSystem::defaultDestination(std::string& name, std::string& error) {
    name.clear();
    std::vector<std::pair<std::string, bool>> found;
    if (!listDests(found, error))
        return false;
    for (auto& [destName, isDefault] : found) {
        if (isDefault)
            name = destName;
    }
    return true;
}

bool CupsPrinterSystem::media(const std::string& destination, std::vector<PrinterMedia>& media,
                              std::string& defaultMedia, std::string& error) {
    media.clear();
    defaultMedia.clear();
    DestPtr dest;
    InfoPtr info;
    if (!openDest(destination, dest, info, error))
        return false;
    std::unique_ptr<http_t, HttpDeleter> http(httpConnect2(
        cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, 30000, nullptr));
    const int count =
        cupsGetDestMediaCount(CUPS_HTTP_DEFAULT, dest.get(), info.get(), CUPS_MEDIA_FLAGS_DEFAULT);
    for (int i = 0; i < count; ++i) {
        cups_size_t size{};
        if (cupsGetDestMediaByIndex(CUPS_HTTP_DEFAULT, dest.get(), info.get(), i,
                                    CUPS_MEDIA_FLAGS_DEFAULT, &size))
            media.push_back(toMedia(http.get(), dest.get(), info.get(), size));
    }
    cups_size_t size{};
    if (cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, dest.get(), info.get(), CUPS_MEDIA_FLAGS_DEFAULT,
                                &size))
        defaultMedia = size.media;
    return true;
}

bool CupsPrinterSystem::submitFile(const std::string& destination, const std::string& title,
                                   const std::string& path, const std::string& format,
                                   const PrinterOptions& options, int& jobId, std::string& error) {
    jobId = 0;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        error = "Cannot read \"" + path + "\"";
        return false;
    }
    DestPtr dest;
    InfoPtr info;
    if (!openDest(destination, dest, info, error))
        return false;
    if (!cupsCheckDestSupported(CUPS_HTTP_DEFAULT, dest.get(), info.get(), "document-format",
                                format.c_str())) {
        error = "Printer \"" + destination + "\" cannot print documents of type " + format +
                ": the print system has no filter for them";
        return false;
    }
    // CUPS names a job with a longer title "Untitled".
    const std::string jobTitle = utf8Prefix(title, kMaxTitleBytes);
    int optionCount = 0;
    cups_option_t* cupsOptions = nullptr;
    for (const auto& [name, value] : options)
        optionCount = cupsAddOption(name.c_str(), value.c_str(), optionCount, &cupsOptions);
    const ipp_status_t created =
        cupsCreateDestJob(CUPS_HTTP_DEFAULT, dest.get(), info.get(), &jobId, jobTitle.c_str(),
                          optionCount, cupsOptions);
    cupsFreeOptions(optionCount, cupsOptions);
    if (created > IPP_STATUS_OK_EVENTS_COMPLETE || jobId <= 0) {
        error = cupsError("Cannot create a job on \"" + destination + "\"");
        jobId = 0;
        return false;
    }
    if (cupsStartDestDocument(CUPS_HTTP_DEFAULT, dest.get(), info.get(), jobId, jobTitle.c_str(),
                              format.c_str(), 0, nullptr, 1) != HTTP_STATUS_CONTINUE) {
        error = cupsError("Cannot send the document to \"" + destination + "\"");
        cupsCancelDestJob(CUPS_HTTP_DEFAULT, dest.get(), jobId);
        return false;
    }
    char buffer[65536];
    bool written = true;
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
        if (cupsWriteRequestData(CUPS_HTTP_DEFAULT, buffer, got) != HTTP_STATUS_CONTINUE) {
            written = false;
            break;
        }
    }
    const bool readFailed = std::ferror(file.get()) != 0;
    const ipp_status_t finished = cupsFinishDestDocument(CUPS_HTTP_DEFAULT, dest.get(), info.get());
    if (!written || readFailed || finished > IPP_STATUS_OK_EVENTS_COMPLETE) {
        error = readFailed ? "Cannot read \"" + path + "\""
                           : cupsError("Cannot send the document to \"" + destination + "\"");
        cupsCancelDestJob(CUPS_HTTP_DEFAULT, dest.get(), jobId);
        jobId = 0;
        return false;
    }
    return true;
}

bool CupsPrinterSystem::activeJobs(const std::string& destination, std::vector<PrinterJob>& jobs,
                                   std::string& error) {
    jobs.clear();
    if (destination.empty()) {
        error = "No printer was named";
        return false;
    }
    cups_job_t* list = nullptr;
    const int count =
        cupsGetJobs2(CUPS_HTTP_DEFAULT, &list, destination.c_str(), 1, CUPS_WHICHJOBS_ACTIVE);
    if (count < 0) {
        error = cupsError("Cannot list the jobs of \"" + destination + "\"");
        return false;
    }
    for (int i = 0; i < count; ++i)
        jobs.push_back(
            {list[i].id, list[i].title ? list[i].title : "", list[i].user ? list[i].user : ""});
    cupsFreeJobs(count, list);
    return true;
}

bool CupsPrinterSystem::cancelJob(const std::string& destination, int jobId, std::string& error) {
    if (destination.empty()) {
        error = "No printer was named";
        return false;
    }
    if (cupsCancelJob2(CUPS_HTTP_DEFAULT, destination.c_str(), jobId, 0) >
        IPP_STATUS_OK_EVENTS_COMPLETE) {
        error =
            cupsError("Cannot cancel job " + std::to_string(jobId) + " on \"" + destination + "\"");
        return false;
    }
    return true;
}

bool CupsPrinterSystem::state(const std::string& destination, PrinterState& state,
                              std::string& error) {
    state = {};
    DestPtr dest;
    if (!findDest(destination, dest, error)) {
        return false;
    }
    const char* uri = cupsGetOption("printer-uri-supported", dest->num_options, dest->options);
    if (uri == nullptr) {
        error = cupsError("No printer \"" + destination + "\"");
        return false;
    }
    // The destination's options hold no state message: the printer is asked.
    ipp_t* request = ippNewRequest(IPP_OP_GET_PRINTER_ATTRIBUTES);
    ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
    static const char* const wanted[] = {"printer-state", "printer-state-message",
                                         "printer-state-reasons", "printer-is-accepting-jobs"};
    ippAddStrings(request, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "requested-attributes",
                  static_cast<int>(std::size(wanted)), nullptr, wanted);
    std::unique_ptr<ipp_t, void (*)(ipp_t*)> response(
        cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/"), &ippDelete);
    if (!response || cupsLastError() > IPP_STATUS_OK_EVENTS_COMPLETE) {
        error = cupsError("Cannot ask printer \"" + destination + "\"");
        return false;
    }
    if (ipp_attribute_t* a = ippFindAttribute(response.get(), "printer-state", IPP_TAG_ENUM))
        state.stopped = ippGetInteger(a, 0) == IPP_PSTATE_STOPPED;
    if (ipp_attribute_t* a =
            ippFindAttribute(response.get(), "printer-is-accepting-jobs", IPP_TAG_BOOLEAN))
        state.acceptingJobs = ippGetBoolean(a, 0) != 0;
    if (ipp_attribute_t* a =
            ippFindAttribute(response.get(), "printer-state-message", IPP_TAG_TEXT))
        state.message = ippGetString(a, 0, nullptr) ? ippGetString(a, 0, nullptr) : "";
    if (ipp_attribute_t* a =
            ippFindAttribute(response.get(), "printer-state-reasons", IPP_TAG_KEYWORD)) {
        for (int i = 0; i < ippGetCount(a); ++i) {
            const char* reason = ippGetString(a, i, nullptr);
            if (reason != nullptr && std::string(reason) != "none")
                state.reasons += (state.reasons.empty() ? "" : ", ") + std::string(reason);
        }
    }
    return true;
}

}  // namespace paginor
