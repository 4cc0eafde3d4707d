#include "app/print/print_adapters.h"

#include "core/text_scan.h"

namespace paginor {

PrintSpool::Status SystemPrintSpool::activeJobTitles(const std::string& printer,
                                                     std::vector<std::string>& titles,
                                                     std::string& error) {
    titles.clear();
    std::vector<std::string> names;
    if (!m_printers.destinations(names, error)) {
        return Status::NoPrinter;
    }
    // The printer system does not tell names apart by case; it is asked by its own spelling.
    std::string known;
    for (const std::string& name : names) {
        if (known.empty() && name.size() == printer.size() && startsWithNoCase(name, printer)) {
            known = name;
        }
    }
    if (known.empty()) {
        error = "No printer \"" + printer + "\"";
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
