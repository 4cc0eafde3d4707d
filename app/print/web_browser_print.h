#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/print/print_layout.h"
#include "app/print/print_services.h"
#include "platform/printer_system.h"

namespace paginor {

// The view's header, footer and margins as a print takes them.
struct PageSetupTexts {
    std::string header;
    std::string footer;
    MarginTexts margins;
};

// Prints the document the browser shows: keeps the current printer, paper and orientation
// (starting from the printer system's default destination, its default paper and portrait),
// renders the document to a PDF in that page layout, draws the header and footer into its
// margins and submits it as one job away from the user-interface thread.
class CWebBrowserPrint {
public:
    // printed is false with the reason in error; jobId is the print system's number of the job.
    using PrintDone = std::function<void(bool printed, int jobId, const std::string& error)>;

    CWebBrowserPrint(PrinterSystem& printers, BackgroundRunner& runner);

    void SetBrowser(PdfRenderer* renderer) { m_renderer = renderer; }

    // The current printer, paper and orientation (0 portrait, 1 landscape), the orientation's
    // text, and the printers joined by TAB when printerList comes empty. A current printer the
    // system no longer has gives way to the default one (else the first) with its default
    // paper, here and wherever the current printer is used. False when the printer system
    // cannot be asked or has no printer.
    bool GetPageSetup(std::string& printer, std::string& paper, int& orientation,
                      std::string& orientationText, std::string& printerList);

    // Makes printer (when not empty), paper (when not empty) and orientation (0 or 1) current.
    // The out values are the ones current before. The paper is the printer's first whose name
    // begins with paper. A printer the system does not have clears printerSet, a paper the
    // printer does not offer clears paperSet; either keeps its old value.
    // No dialog is ever needed: printDialogNeeded is always false.
    bool PrintSetup(const std::string& paper, const std::string& printer, std::string& printerOut,
                    std::string& paperOut, int& orientation, bool& printerSet, bool& paperSet,
                    bool& printDialogNeeded, std::string& printerList);

    void SetPageSetup(PageSetupTexts texts) { m_texts = std::move(texts); }
    const PageSetupTexts& pageSetup() const { return m_texts; }

    // Prints the loaded document, whose pages are the report's pages from firstPage on, of
    // reportPages, with the job title title; done runs exactly once, on the user-interface
    // thread (at once when the print cannot start).
    void PrintWithoutPrompt(const std::string& title, int firstPage, int reportPages,
                            PrintDone done);
    bool printing() const { return m_stage != nullptr; }
    // Gives up the running print: true when nothing of it will reach the printer (done then
    // reports it failed), false when its job has been handed to the printer already.
    bool AbandonPrint();

    // Why the last GetPageSetup, PrintSetup or CurrentMedia failed.
    const std::string& lastError() const { return m_error; }
    const std::string& printer() const { return m_printer; }
    const std::string& paper() const { return m_paper; }
    int orientation() const { return m_orientation; }
    // The current printer's papers; false with error when they cannot be had.
    bool CurrentMedia(std::vector<PrinterMedia>& media, std::string& error);

private:
    bool ensureCurrent(std::string& error);
    bool chosenMedia(PrinterMedia& media, std::string& error);

    PrinterSystem& m_printers;
    BackgroundRunner& m_runner;
    PdfRenderer* m_renderer = nullptr;
    PageSetupTexts m_texts;
    bool m_haveCurrent = false;
    std::string m_printer;
    std::string m_paper;
    int m_orientation = 0;
    std::string m_error;
    // How far the running print is, shared with the work that submits it.
    enum class Stage { Preparing, Submitted, Abandoned };
    std::shared_ptr<std::atomic<Stage>> m_stage;
};

// Draws header and footer lines into the margins of every sheet of the PDF at path, replacing
// it. sheetPages holds the report page on each sheet in sheet order, which &p shows (a sheet
// past its end shows its last entry, or the sheet's number when it is empty); &P shows
// fields.pages.
bool StampHeaderFooter(const std::string& path, const std::string& header,
                       const std::string& footer, HeaderFooterFields fields,
                       const std::vector<int>& sheetPages, const PdfPageLayout& layout,
                       std::string& error);

// The report page each sheet of the rendered PDF at path shows, one per sheet in order, read
// from the kPageStartLink links of the sheets the pages begin on (the document's first page
// being firstPage); the links are taken out of the file.
bool TakePageStarts(const std::string& path, int firstPage, std::vector<int>& sheetPages,
                    std::string& error);

// Why a document of the report's pages from firstPage on is not printed, when rendering found
// that its pages would take sheetsNeeded sheets.
std::string TooLargeToPrintText(const std::vector<int>& sheetsNeeded, int firstPage);

}  // namespace paginor
