#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/printer_system.h"

namespace paginor {

// Printers in memory, for tests of the modules that print. Safe to use from several threads.
class FakePrinterSystem final : public PrinterSystem {
public:
    struct Destination {
        std::vector<PrinterMedia> media;
        std::string defaultMedia;
        std::vector<PrinterJob> jobs;  // the active jobs activeJobs reports
        PrinterState state;
    };
    struct Submission {
        std::string destination;
        std::string title;
        std::string pdf;  // the file's bytes at submission
        PrinterOptions options;
        int jobId = 0;
        std::string format = "application/pdf";
    };

    // Adds or replaces a destination; the first added is the default until setDefault.
    void addDestination(const std::string& name, Destination destination);
    void setDefault(const std::string& name);
    // Not empty: every later call fails with this text.
    void failWith(std::string error);
    std::vector<Submission> submissions() const;

    bool destinations(std::vector<std::string>& names, std::string& error) override;
    bool defaultDestination(std::string& name, std::string& error) override;
    bool media(const std::string& destination, std::vector<PrinterMedia>& media,
               std::string& defaultMedia, std::string& error) override;
    // Destinations print PDF and plain text.
    bool submitFile(const std::string& destination, const std::string& title,
                    const std::string& path, const std::string& format,
                    const PrinterOptions& options, int& jobId, std::string& error) override;
    bool activeJobs(const std::string& destination, std::vector<PrinterJob>& jobs,
                    std::string& error) override;
    // Drops the job from the active ones; one that is not active is refused as CUPS does.
    bool cancelJob(const std::string& destination, int jobId, std::string& error) override;
    std::vector<int> cancelled() const;
    bool state(const std::string& destination, PrinterState& state, std::string& error) override;
    void setState(const std::string& destination, PrinterState state);

    // A4, Letter, Legal and A3 with 4.23 mm hardware margins, A4 by default.
    static Destination standardDestination();

private:
    bool failed(std::string& error) const;
    // The destination, or null with the print system's failure or CUPS's words for a missing one.
    Destination* find(const std::string& destination, std::string& error);

    mutable std::mutex m_mutex;
    std::vector<std::string> m_order;
    std::map<std::string, Destination> m_destinations;
    std::string m_default;
    std::string m_error;
    int m_nextJob = 1;
    std::vector<Submission> m_submissions;
    std::vector<int> m_cancelled;
};

}  // namespace paginor
