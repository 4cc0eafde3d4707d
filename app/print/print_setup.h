#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/print/print_dlg.h"

namespace paginor {

class UiServices;

// The page-setup store as printing uses it: the learned speed, the user's choice and the
// look-ups that fill what a report's directives leave out.
class PageSetupAccess : public PrintSpeedStore {
public:
    virtual void SetCurrent(const std::string& paper, const std::string& printer,
                            std::int32_t orientation) = 0;
    virtual void Update(std::int32_t key, const std::string& paper, const std::string& printer,
                        std::int32_t orientation) = 0;
    // Each clears its outputs and gives false when nothing is found.
    virtual bool LookupByKey(std::int32_t key, std::string& paper, std::string& printer,
                             std::int32_t& orientation) = 0;
    virtual bool LookupByPaper(const std::string& paper, std::string& printer,
                               std::int32_t& orientation) = 0;
    virtual bool LookupCurrent(std::string& paper, std::string& printer,
                               std::int32_t& orientation) = 0;
};

// The print driver's printer, paper and orientation.
class PrinterSetupTarget {
public:
    virtual ~PrinterSetupTarget() = default;
    // Sets the non-empty printer and paper and the orientation; printerOut and paperOut receive
    // the ones current before, paperNow the paper current after; the flags tell which of the
    // wanted ones could be set. False when the print system could not be asked at all.
    virtual bool PrintSetup(const std::string& paper, const std::string& printer,
                            std::string& printerOut, std::string& paperOut,
                            std::int32_t& orientation, bool& printerSet, bool& paperSet,
                            std::string& paperNow) = 0;
};

// The printing directives of a report and where it came from.
struct PrintDirectiveInput {
    std::string printer;  // "&name": a parameter of the report address
    std::string paper;
    std::int32_t orientation = 2;  // 0 portrait, 1 landscape, 2 none
    std::int32_t pageHeight = 0;   // the store's key
    std::string reportAddress;
};

struct PrintDirectiveResult {
    std::string printer;
    std::string paper;
    std::int32_t orientation = 0;
};

// The value of parameter name (without '&') in the query of address; false when it has none.
bool UrlParameter(const std::string& address, const std::string& name, std::string& value);

// Fills printer, paper and orientation from the directives, the store and the driver, and sets
// them in the driver. False when printing is not to go on; a print system that cannot be asked
// is left for the caller to name.
bool ApplyPrintDirectives(const PrintDirectiveInput& input, bool ask, PageSetupAccess& store,
                          PrinterSetupTarget& driver, UiServices& ui, PrintDirectiveResult& result);

// The print options dialog's logic (dialog 135).
class PrintSetup {
public:
    static constexpr std::int32_t kMaxPagesPerTask = 10;
    static constexpr std::int32_t kMaxCopies = 20;
    static constexpr std::size_t kMaxNameBytes = 127;

    enum class Range { All, Pages, Given };

    // What the user chose when pressing Print.
    struct Choice {
        Range range = Range::All;
        std::string fromText;
        std::string toText;
        std::int32_t pagesPerTask = 1;
        std::int32_t copies = 1;
        bool collate = false;
        std::string printer;  // the selected entry of the printer list
    };

    enum class OkResult {
        Stay,       // pages per task out of range
        FocusFrom,  // select the from edit whole
        FocusTo,
        Close,  // the dialog closes: nothing to print
        Print,  // the dialog closes and the range prints
    };

    void SetInfo(std::int32_t pageCount, std::int32_t from, std::int32_t to, std::int32_t shownFrom,
                 std::int32_t shownTo, const std::string& printer, const std::string& paper,
                 std::int32_t orientation);

    // The printer, paper and orientation read again from the print driver.
    void SetPrinterChoice(const std::string& printer, const std::string& paper,
                          std::int32_t orientation);

    // Pages per task by the report's page height; the fields the dialog shows first.
    void OnInitDialog(std::int32_t pageHeight);

    std::int32_t pageCount() const { return m_pageCount; }
    std::int32_t from() const { return m_from; }
    std::int32_t to() const { return m_to; }
    std::int32_t pagesPerTask() const { return m_pagesPerTask; }
    std::int32_t copies() const { return m_copies; }
    bool collate() const { return m_collate; }
    const std::string& printer() const { return m_printer; }
    const std::string& paper() const { return m_paper; }
    std::int32_t orientation() const { return m_orientation; }
    std::string orientationText() const { return m_orientation == 1 ? "Landscape" : "Portrait"; }
    std::string allPagesText() const;
    // The entry of the list equal to the printer ignoring case, -1 when none.
    std::int32_t printerIndex(const std::vector<std::string>& printers) const;

    // Collate is offered only for more than one copy.
    static bool CollateEnabled(std::int32_t copies) { return copies > 1; }
    // A page field holds only digits and a page of the report.
    bool PageTextValid(const std::string& text) const;
    // "Before Report Value..": the page that shows the directives for the selected printer.
    std::string BeforeReportValuePage(const std::string& printer,
                                      const std::string& helpAddress) const;

    // The frame's printer name takes the chosen printer; the store records the choice.
    // On Print, from(), to(), copies(), collate() and pagesPerTask() hold what is to print.
    OkResult OnOK(const Choice& choice, std::int32_t pageHeight, PageSetupAccess& store,
                  UiServices& ui, const std::string& supportAddress, std::string& framePrinter);

private:
    std::int32_t m_pageCount = 0;
    std::int32_t m_from = 0;
    std::int32_t m_to = 0;
    std::int32_t m_shownFrom = 0;
    std::int32_t m_shownTo = 0;
    std::string m_printer;
    std::string m_paper;
    std::int32_t m_orientation = 0;
    std::int32_t m_pagesPerTask = 1;
    std::int32_t m_copies = 1;
    bool m_collate = false;
};

}  // namespace paginor
