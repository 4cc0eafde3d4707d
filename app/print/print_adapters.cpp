#include "app/print/print_adapters.h"

#include <algorithm>

#include "core/text_scan.h"

namespace paginor {

std::string SystemPrintSpool::knownName(const std::string& printer, std::string& error) {
    std::vector<std::string> names;
    if (!m_printers.destinations(names, error)) {
        return {};
    }
    // The printer system does not tell names apart by case; it is asked by its own spelling.
    for (const std::string& name : names) {
        if (name.size() == printer.size() && startsWithNoCase(name, printer)) {
            return name;
        }
    }
    error = "No printer \"" + printer + "\"";
    return {};
}

bool SystemPrintSpool::activeJobIds(const std::string& printer, std::vector<int>& ids,
                                    std::string& error) {
    ids.clear();
    const std::string known = knownName(printer, error);
    std::vector<PrinterJob> jobs;
    if (known.empty() || !m_printers.activeJobs(known, jobs, error)) {
        return false;
    }
    for (const PrinterJob& job : jobs) {
        ids.push_back(job.id);
    }
    return true;
}

bool SystemPrintSpool::cancelJobs(const std::string& printer, const std::vector<int>& ids,
                                  std::string& error) {
    const std::string known = knownName(printer, error);
    if (known.empty()) {
        return false;
    }
    error.clear();
    std::string failure;
    for (int id : ids) {
        if (!m_printers.cancelJob(known, id, failure) && error.empty()) {
            error = failure;
        }
    }
    if (error.empty()) {
        return true;
    }
    // A job that printed while the others were withdrawn was not refused.
    std::vector<int> active;
    if (!activeJobIds(known, active, failure)) {
        return false;
    }
    const bool left = std::any_of(ids.begin(), ids.end(), [&active](int id) {
        return std::find(active.begin(), active.end(), id) != active.end();
    });
    if (!left) {
        error.clear();
    }
    return !left;
}

PrintSpool::Status SystemPrintSpool::activeJobTitles(const std::string& printer,
                                                     std::vector<std::string>& titles,
                                                     std::string& error) {
    titles.clear();
    const std::string known = knownName(printer, error);
    if (known.empty()) {
        return Status::NoPrinter;
    }
    PrinterState state;
    if (!m_printers.state(known, state, error)) {
        return Status::ListFailed;
    }
    if (state.stopped || !state.acceptingJobs) {
        const std::string why = !state.message.empty()   ? state.message
                                : !state.reasons.empty() ? state.reasons
                                                         : "no reason given";
        error = "Printer \"" + known + "\" " +
                (state.stopped ? "is stopped: " : "does not accept jobs: ") + why;
        return Status::Stopped;
    }
    std::vector<PrinterJob> jobs;
    if (!m_printers.activeJobs(known, jobs, error)) {
        return Status::ListFailed;
    }
    for (const PrinterJob& job : jobs) {
        titles.push_back(job.title);
    }
    return Status::Listed;
}

}  // namespace paginor
