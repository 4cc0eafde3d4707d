#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/to_excel_setup.h"
#include "core/report_core.h"
#include "mail/mail_clock.h"
#include "mail/send_flow.h"

namespace paginor {

class SettingsStore;
class UiServices;

// What the export command asks of the window around it.
struct ExportEnvironment {
    // Runs the export dialog over the prepared choices; true when it closed with OK.
    std::function<bool(ToExcelSetupDlg&)> runDialog;
    // Opens a converted file with its program; false with the reason.
    std::function<bool(const std::string& path, std::string& error)> open;
    // The e-mail account dialog; true when it was saved.
    std::function<bool()> runAccountDialog;
    // Receives the conversion's percentage, 0 at the end; called from the thread runWork runs
    // the work on.
    ProgressSink progress;
    // Non-zero stops the conversion.
    const std::atomic<std::int32_t>* cancel = nullptr;
    // Runs the work (the conversion, or the writing of the pages) so that the window stays live
    // and its Cancel reaches the work, and returns once the work ended; empty runs it here.
    std::function<void(const std::function<void()>& work)> runWork;
    // Starts the workbook application; empty stands for a machine without one.
    ExcelLauncher excel = StartXlsxApplication;
    // Where reports whose source may not be shown are exported by default.
    std::string homeFolder;
    int smtpPort = kSmtpPort;
    const Clock* clock = nullptr;  // the system clock when null
};

inline constexpr std::size_t kMaxRuntimeExceptionBytes = 1024;

// The export command: the dialog, then the conversion or the HTML of the pages, the mail and the
// opening of the converted file.
void OutputToExcel(CReportCore& report, bool openedFromOutside, SettingsStore& settings,
                   UiServices& ui, const ExportEnvironment& environment);

// Save As: copies the report to target, replacing what is there; a target that is the report
// itself is left alone. A failure is shown; false then.
bool SaveReportAs(const std::string& reportPath, const std::string& target, UiServices& ui);

}  // namespace paginor
