#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/print/print_dlg.h"
#include "app/print/print_setup.h"

namespace paginor {

// The view's printing, as the frame's "print" command drives it.
class PrintTarget {
public:
    virtual ~PrintTarget() = default;
    virtual bool CanPrint() = 0;
    // Shows the task's HTML and arms its print; false when refused.
    virtual bool PrintHtml(std::string& html, const std::string& command, CPrintDlg* dialog,
                           std::int32_t pages) = 0;
    // Arms a print of the page the view is about to load from a file.
    virtual bool SetPrintCommand(const std::string& command, CPrintDlg* dialog,
                                 std::int32_t pages) = 0;
    virtual void OnDocumentComplete(const std::string& url) = 0;
    // The queue is gone: an armed print reports to no one.
    virtual void DisarmPrint() = 0;
};

// The print driver's current printer, paper and orientation and the printers it offers.
class PrinterChoiceSource {
public:
    virtual ~PrinterChoiceSource() = default;
    virtual void GetPageSetup(std::string& printer, std::string& paper, std::int32_t& orientation,
                              std::vector<std::string>& printers) = 0;
};

// The modal dialogs of printing.
class PrintDialogs {
public:
    virtual ~PrintDialogs() = default;
    // Runs the print-task dialog until its queue ends.
    virtual void RunPrintQueue(CPrintDlg& queue) = 0;
    // Runs the print options; OK hands the choice to onOk, which answers what the dialog does.
    virtual void RunPrintSetup(
        PrintSetup& setup, const std::vector<std::string>& printers, std::int32_t pageHeight,
        const std::function<PrintSetup::OkResult(const PrintSetup::Choice&)>& onOk) = 0;
};

// Everything printing needs beyond the frame, the view and the report; set once by the window.
struct PrintEnvironment {
    PrintTarget& target;
    PrinterSetupTarget& driver;
    PrinterChoiceSource& choices;
    PrintSpool& spool;
    PrinterLock& lock;
    PageSetupAccess& store;
    PrintDialogs& dialogs;
    // The address of the report when it came from the web, for "&name" printer directives.
    std::function<std::string()> reportAddress;
};

}  // namespace paginor
