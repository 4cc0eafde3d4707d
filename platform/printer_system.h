#pragma once

#include <string>
#include <utility>
#include <vector>

namespace paginor {

// One paper a destination offers. Sizes and hardware margins are in hundredths of a millimetre.
struct PrinterMedia {
    std::string pwgName;      // "iso_a4_210x297mm"
    std::string ppdName;      // "A4"; empty when the size has no standard PPD name
    std::string displayName;  // the printer system's own text ("A4", "US Letter")
    int width = 0;
    int length = 0;
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;

    bool operator==(const PrinterMedia&) const = default;
};

struct PrinterJob {
    int id = 0;
    std::string title;
    std::string user;

    bool operator==(const PrinterJob&) const = default;
};

// Whether a destination prints, with the print system's own words when it does not.
struct PrinterState {
    bool stopped = false;  // paused by its administrator or halted by a fault
    bool acceptingJobs = true;
    std::string message;  // "Paused", "Media empty", ...
    std::string reasons;  // "paused", "media-empty-error", ...
};

// Job options by their printer-system names ("media", "orientation-requested", "copies").
using PrinterOptions = std::vector<std::pair<std::string, std::string>>;

// The system's printers. Every call answers false with the printer system's own words in error;
// calls may come from any thread, one call per object at a time.
class PrinterSystem {
public:
    // The longest job title a print system keeps (an IPP name).
    static constexpr std::size_t kMaxTitleBytes = 255;

    virtual ~PrinterSystem() = default;

    virtual bool destinations(std::vector<std::string>& names, std::string& error) = 0;
    // name is empty when the system has no default destination.
    virtual bool defaultDestination(std::string& name, std::string& error) = 0;
    // The default destination, else the first one; "No printer is set up" when there is none.
    bool defaultOrFirstDestination(std::string& name, std::string& error) {
        if (!defaultDestination(name, error)) {
            return false;
        }
        if (!name.empty()) {
            return true;
        }
        std::vector<std::string> names;
        if (!destinations(names, error)) {
            return false;
        }
        if (names.empty()) {
            error = "No printer is set up";
            return false;
        }
        name = names.front();
        return true;
    }
    // The destination's papers and the one it uses by default (its pwgName; empty when none).
    virtual bool media(const std::string& destination, std::vector<PrinterMedia>& media,
                       std::string& defaultMedia, std::string& error) = 0;
    // Submits the file, of the MIME type format, as one job titled title (its first
    // kMaxTitleBytes bytes, cut between characters); jobId receives the job's number. A format
    // the destination cannot print is refused before any job is made.
    virtual bool submitFile(const std::string& destination, const std::string& title,
                            const std::string& path, const std::string& format,
                            const PrinterOptions& options, int& jobId, std::string& error) = 0;
    bool submitPdf(const std::string& destination, const std::string& title,
                   const std::string& pdfPath, const PrinterOptions& options, int& jobId,
                   std::string& error) {
        return submitFile(destination, title, pdfPath, "application/pdf", options, jobId, error);
    }
    // This user's jobs on the destination that are not finished yet (pending, held, printing).
    virtual bool activeJobs(const std::string& destination, std::vector<PrinterJob>& jobs,
                            std::string& error) = 0;
    // Withdraws one of this user's jobs from the destination's queue.
    virtual bool cancelJob(const std::string& destination, int jobId, std::string& error) = 0;
    virtual bool state(const std::string& destination, PrinterState& state, std::string& error) = 0;
};

// CUPS through libcups; the server is the one libcups picks (CUPS_SERVER, client.conf). When the
// server does not answer, every error says so: "The print system (CUPS) at ... cannot be
// reached: ...".
class CupsPrinterSystem final : public PrinterSystem {
public:
    bool destinations(std::vector<std::string>& names, std::string& error) override;
    bool defaultDestination(std::string& name, std::string& error) override;
    bool media(const std::string& destination, std::vector<PrinterMedia>& media,
               std::string& defaultMedia, std::string& error) override;
    bool submitFile(const std::string& destination, const std::string& title,
                    const std::string& path, const std::string& format,
                    const PrinterOptions& options, int& jobId, std::string& error) override;
    bool activeJobs(const std::string& destination, std::vector<PrinterJob>& jobs,
                    std::string& error) override;
    bool cancelJob(const std::string& destination, int jobId, std::string& error) override;
    bool state(const std::string& destination, PrinterState& state, std::string& error) override;
};

}  // namespace paginor
