#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/print/print_dlg.h"
#include "app/print/print_setup.h"

namespace paginor {

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

// What printing needs beyond the frame, the view with its print driver and the report; set
// once by the window.
struct PrintEnvironment {
    PrintSpool& spool;
    PrinterLock& lock;
    PageSetupAccess& store;
    PrintDialogs& dialogs;
    // The address of the report when it came from the web, for "&name" printer directives.
    std::function<std::string()> reportAddress;
};

}  // namespace paginor
