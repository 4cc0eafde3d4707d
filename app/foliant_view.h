#pragma once

#include <string>

#include "app/browser_control.h"
#include "app/print/print_services.h"
#include "app/ui_services.h"

namespace paginor {

class CFoliantDoc;
class CWebBrowserPrint;
class SettingsStore;

// The report view: writes page documents into the browser from memory, keeps the reader's scroll
// position and the text direction, and holds the "My Page Setup" header, footer and margins.
class CFoliantView {
public:
    static constexpr std::size_t kMaxHeaderFooter = 239;
    static constexpr std::size_t kMaxMargin = 19;
    static constexpr std::size_t kMaxPrintCommand = 399;
    // A print whose document has not come back by then has failed.
    static constexpr int kPrintTimeoutMs = 120000;

    CFoliantView(CFoliantDoc& doc, BrowserControl& browser, UiServices& ui,
                 SettingsStore& settings);

    bool WriteHtml(std::string& html, bool print, bool rightToLeft);
    void Navigate2(const std::string& url) { m_browser.navigate(url); }

    // With read set, takes the shown document's scroll position; else scrolls to it.
    void GetSetScrollPos(int& top, int& left, bool read);
    bool LoadMyPageSetup();

    int GetZoom() const { return m_browser.zoomStep(); }
    void SetZoom(int step) { m_browser.setZoomStep(step); }

    // Printing goes through driver; the window gives titles, the time-out and the page-setup
    // dialog. Without them nothing can be printed.
    void SetPrinting(CWebBrowserPrint* driver, PrintUi* window);
    // The address printed as the job's title.
    void SetPageAddress(std::string address) { m_pageAddress = std::move(address); }

    // Writes the document for printing and arms the print; it is printed when the browser
    // reports the document complete, and reported to dialog exactly once. The document holds
    // pageCount report pages from firstPage on.
    bool PrintHtml(std::string& html, const std::string& command, PrintTaskReceiver* dialog,
                   int firstPage, int pageCount);
    // Arms the print without writing; the caller has the browser load the document.
    bool SetPrintCommand(const std::string& command, PrintTaskReceiver* dialog, int firstPage,
                         int pageCount);
    void OnDocumentComplete(const std::string& url, bool ok);
    // The browser's renderer ended: an armed print fails.
    void OnRenderProcessGone();
    bool DoPrint();
    bool ApplyIEPageSetup();
    bool CanPrint() const;
    bool ShowPageSetupDialog();
    bool CallPrintSetup(const std::string& paper, const std::string& printer,
                        std::string& printerOut, std::string& paperOut, int& orientation,
                        bool& printerSet, bool& paperSet, bool& printDialogNeeded,
                        std::string& printerList);
    bool CallGetPageSetup(std::string& printer, std::string& paper, int& orientation,
                          std::string& orientationText, std::string& printerList);
    // Why the last page-setup call of the driver failed, in the print system's words.
    std::string printSetupError() const;
    // The paper the driver prints on now.
    std::string printPaper() const;
    // The dialog is going away: a print armed for it ends without reporting to it.
    void DisarmPrint(PrintTaskReceiver* dialog);
    // Why the last print failed; empty after a print that succeeded.
    const std::string& lastPrintError() const { return m_lastPrintError; }
    // The print system's number of the job the last print made; 0 when it made none.
    int lastPrintJob() const { return m_lastPrintJob; }
    void SetMyPageSetup(std::string header, std::string footer, std::string left, std::string right,
                        std::string top, std::string bottom);

    bool printPending() const { return m_printPending; }
    const std::string& header() const { return m_header; }
    const std::string& footer() const { return m_footer; }
    const std::string& marginLeft() const { return m_marginLeft; }
    const std::string& marginRight() const { return m_marginRight; }
    const std::string& marginTop() const { return m_marginTop; }
    const std::string& marginBottom() const { return m_marginBottom; }

private:
    CFoliantDoc& m_doc;
    BrowserControl& m_browser;
    UiServices& m_ui;
    SettingsStore& m_settings;
    std::string m_header;
    std::string m_footer;
    std::string m_marginLeft = "0";
    std::string m_marginRight = "0";
    std::string m_marginTop = "0";
    std::string m_marginBottom = "0";
    bool arm(const std::string& command, PrintTaskReceiver* dialog, int firstPage, int pageCount);
    void startPrintTimer(unsigned serial);
    // Gives up the print the driver runs for the armed task; false when its job has reached
    // the printer already.
    bool abandonDriverPrint();
    // Ends the armed print and reports it once.
    void finishPrint(bool printed, const std::string& error, int jobId = 0);

    bool m_printPending = false;
    bool m_rightToLeftShown = false;
    std::string m_sPrintCmd;
    PrintTaskReceiver* m_pPrintDlg = nullptr;
    int m_firstPage = 1;
    int m_pageCount = 0;
    // Tells a late completion from the print that is armed now.
    unsigned m_printSerial = 0;
    bool m_printing = false;
    CWebBrowserPrint* m_driver = nullptr;
    PrintUi* m_printUi = nullptr;
    std::string m_pageAddress = "about:blank";
    std::string m_lastPrintError;
    int m_lastPrintJob = 0;
};

}  // namespace paginor
