#include "app/foliant_view.h"

#include <algorithm>

#include "app/foliant_doc.h"
#include "app/print/web_browser_print.h"
#include "platform/settings_table.h"

namespace paginor {

CFoliantView::CFoliantView(CFoliantDoc& doc, BrowserControl& browser, UiServices& ui,
                           SettingsStore& settings)
    : m_doc(doc), m_browser(browser), m_ui(ui), m_settings(settings) {
    LoadMyPageSetup();
}

bool CFoliantView::WriteHtml(std::string& html, bool print, bool rightToLeft) {
    if (m_printPending) {
        m_ui.messageBox("previous print task is not finished ,please try again later");
        return false;
    }
    if (print) {
        m_printPending = true;
    }
    m_browser.loadHtml(std::move(html), m_doc.report().codePage());
    if (print) {
        // Every load is a new document: keep the direction of the page shown before.
        if (m_rightToLeftShown) {
            m_browser.setDirection(true);
        }
    } else if (rightToLeft || m_rightToLeftShown) {
        m_browser.setDirection(rightToLeft);
        m_rightToLeftShown = rightToLeft;
    }
    return true;
}

void CFoliantView::GetSetScrollPos(int& top, int& left, bool read) {
    if (read) {
        m_browser.scrollPosition(top, left);
    } else {
        m_browser.setScrollPosition(top, left);
    }
}

bool CFoliantView::LoadMyPageSetup() {
    if (!keyExists(m_settings, kPageSetupKey)) {
        return true;
    }
    struct Field {
        const SettingValue& value;
        std::string& member;
    };
    const Field fields[] = {
        {kHeaderValue, m_header},
        {kFooterValue, m_footer},
        {kMarginBottomValue, m_marginBottom},
        {kMarginLeftValue, m_marginLeft},
        {kMarginRightValue, m_marginRight},
        {kMarginTopValue, m_marginTop},
    };
    for (const Field& field : fields) {
        std::optional<std::string> text = readStringSetting(m_settings, field.value);
        if (!text) {
            m_ui.messageBox("Failed to get My Page Setup variable");
            return false;
        }
        field.member = *text;
    }
    return true;
}

}  // namespace paginor

namespace paginor {

namespace {

constexpr char kPreviousPrintPending[] =
    "previous print task is not finished ,please try again later";

}  // namespace

void CFoliantView::SetPrinting(CWebBrowserPrint* driver, PrintUi* window) {
    m_driver = driver;
    m_printUi = window;
}

void CFoliantView::SetMyPageSetup(std::string header, std::string footer, std::string left,
                                  std::string right, std::string top, std::string bottom) {
    m_header = std::move(header);
    m_footer = std::move(footer);
    m_marginLeft = std::move(left);
    m_marginRight = std::move(right);
    m_marginTop = std::move(top);
    m_marginBottom = std::move(bottom);
}

bool CFoliantView::arm(const std::string& command, PrintTaskReceiver* dialog, int firstPage,
                       int pageCount) {
    m_printPending = true;
    m_sPrintCmd = command.substr(0, kMaxPrintCommand);
    m_pPrintDlg = dialog;
    m_firstPage = firstPage;
    m_pageCount = pageCount;
    m_printing = false;
    startPrintTimer(++m_printSerial);
    return true;
}

void CFoliantView::startPrintTimer(unsigned serial) {
    if (!m_printUi)
        return;
    m_printUi->startPrintTimer(kPrintTimeoutMs, [this, serial] {
        if (serial != m_printSerial || !m_printPending)
            return;
        // A job the printer has taken already is waited for: it prints, so it is no failure.
        if (!abandonDriverPrint()) {
            startPrintTimer(serial);
            return;
        }
        finishPrint(false, "The page to print did not come within 120 seconds");
    });
}

bool CFoliantView::abandonDriverPrint() {
    return !m_printing || m_driver == nullptr || m_driver->AbandonPrint();
}

bool CFoliantView::PrintHtml(std::string& html, const std::string& command,
                             PrintTaskReceiver* dialog, int firstPage, int pageCount) {
    if (m_printPending) {
        m_ui.messageBox(kPreviousPrintPending);
        return false;
    }
    if (!WriteHtml(html, true, false)) {
        m_printPending = false;
        return false;
    }
    return arm(command, dialog, firstPage, pageCount);
}

bool CFoliantView::SetPrintCommand(const std::string& command, PrintTaskReceiver* dialog,
                                   int firstPage, int pageCount) {
    if (m_printPending) {
        m_ui.messageBox(kPreviousPrintPending);
        return false;
    }
    return arm(command, dialog, firstPage, pageCount);
}

void CFoliantView::OnDocumentComplete(const std::string&, bool ok) {
    if (!m_printPending || m_printing)
        return;
    if (!ok) {
        finishPrint(false, "The page to print could not be loaded");
        return;
    }
    DoPrint();
}

void CFoliantView::OnRenderProcessGone() {
    // A job the printer has taken already still reports when its submission ends.
    if (m_printPending && abandonDriverPrint())
        finishPrint(false, "The page renderer ended while printing");
}

void CFoliantView::DisarmPrint(PrintTaskReceiver* dialog) {
    if (!m_printPending || m_pPrintDlg != dialog)
        return;
    m_pPrintDlg = nullptr;
    abandonDriverPrint();
    finishPrint(false, "The print was cancelled");
}

void CFoliantView::finishPrint(bool printed, const std::string& error, int jobId) {
    if (!m_printPending)
        return;
    m_printPending = false;
    m_printing = false;
    ++m_printSerial;
    m_lastPrintError = printed ? std::string() : error;
    m_lastPrintJob = printed ? jobId : 0;
    if (m_printUi)
        m_printUi->stopPrintTimer();
    PrintTaskReceiver* dialog = m_pPrintDlg;
    m_pPrintDlg = nullptr;
    if (dialog)
        dialog->OnTaskDone(m_sPrintCmd, printed, m_pageCount);
}

bool CFoliantView::DoPrint() {
    if (m_pPrintDlg == nullptr) {
        m_ui.messageBox("Exception,m_sPrintCmd==NULL||m_pPrintDlg==NULL(for programmer only");
        finishPrint(false, "No print-task dialog to report to");
        return false;
    }
    if (m_driver == nullptr) {
        m_ui.messageBox("Exception! Failed to print");
        finishPrint(false, "Printing is not set up");
        return false;
    }
    ApplyIEPageSetup();
    m_printing = true;
    const unsigned serial = m_printSerial;
    // &P counts the report's pages; a document printed without a loaded report counts its own.
    CReportCore& report = m_doc.report();
    const int count = std::max(m_pageCount, 1);
    const int reportPages = report.state() != 0 ? report.GetPageCount() : 0;
    m_driver->PrintWithoutPrompt(m_pageAddress, m_firstPage,
                                 std::max(reportPages, m_firstPage + count - 1),
                                 [this, serial](bool printed, int jobId, const std::string& error) {
                                     // A print that timed out or was disarmed has been reported
                                     // already.
                                     if (serial == m_printSerial)
                                         finishPrint(printed, error, jobId);
                                 });
    return true;
}

bool CFoliantView::ApplyIEPageSetup() {
    m_doc.report().GetMarginDirectives(m_marginLeft, m_marginRight, m_marginTop, m_marginBottom);
    if (m_driver) {
        m_driver->SetPageSetup(
            {m_header, m_footer, {m_marginLeft, m_marginRight, m_marginTop, m_marginBottom}});
    }
    return true;
}

std::string CFoliantView::printSetupError() const {
    return m_driver != nullptr ? m_driver->lastError() : "Printing is not set up";
}

std::string CFoliantView::printPaper() const {
    return m_driver != nullptr ? m_driver->paper() : std::string();
}

bool CFoliantView::CanPrint() const {
    return m_driver != nullptr && !m_browser.loading() && !m_driver->printing();
}

bool CFoliantView::ShowPageSetupDialog() {
    if (m_driver == nullptr || m_printUi == nullptr)
        return false;
    // The report's margins come first, so that the dialog shows what would print.
    ApplyIEPageSetup();
    MarginTexts margins{m_marginLeft, m_marginRight, m_marginTop, m_marginBottom};
    if (!m_printUi->showPageSetupDialog(*m_driver, margins))
        return false;
    m_marginLeft = margins.left;
    m_marginRight = margins.right;
    m_marginTop = margins.top;
    m_marginBottom = margins.bottom;
    return true;
}

bool CFoliantView::CallPrintSetup(const std::string& paper, const std::string& printer,
                                  std::string& printerOut, std::string& paperOut, int& orientation,
                                  bool& printerSet, bool& paperSet, bool& printDialogNeeded,
                                  std::string& printerList) {
    if (m_driver == nullptr)
        return false;
    const std::string title = m_printUi ? m_printUi->printWindowTitle() : std::string();
    if (m_printUi)
        m_printUi->setPrintWindowTitle("Calling  PrintSetup...");
    const bool done = m_driver->PrintSetup(paper, printer, printerOut, paperOut, orientation,
                                           printerSet, paperSet, printDialogNeeded, printerList);
    if (m_printUi)
        m_printUi->setPrintWindowTitle(title);
    return done;
}

bool CFoliantView::CallGetPageSetup(std::string& printer, std::string& paper, int& orientation,
                                    std::string& orientationText, std::string& printerList) {
    if (m_driver == nullptr)
        return false;
    const std::string title = m_printUi ? m_printUi->printWindowTitle() : std::string();
    if (m_printUi)
        m_printUi->setPrintWindowTitle("Calling  GetPageSetup ...");
    const bool done =
        m_driver->GetPageSetup(printer, paper, orientation, orientationText, printerList);
    if (m_printUi)
        m_printUi->setPrintWindowTitle(title);
    return done;
}

}  // namespace paginor
