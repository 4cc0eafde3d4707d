#pragma once

#include <functional>
#include <string>
#include <vector>

namespace paginor {

class CWebBrowserPrint;
struct MarginTexts;

// The page layout a document is rendered to a PDF with: paper size in millimetres as the
// paper stands (landscape already swapped) and the margins in millimetres.
struct PdfPageLayout {
    double width = 210;
    double height = 297;
    bool landscape = false;
    double left = 0;
    double right = 0;
    double top = 0;
    double bottom = 0;
    // The paper's unprintable edges at top and bottom: a header or footer goes between them and
    // the page.
    double hardTop = 0;
    double hardBottom = 0;
};

// A page shrinks onto one sheet down to this share of its size, where it can still be read; a
// longer page prints at the scale that fits its width, over as many sheets as it takes.
inline constexpr double kReadableScale = 0.6;
// The most sheets one print task's document is printed on: a much larger one takes the page
// renderer more memory than a desktop has.
inline constexpr int kMaxPrintSheets = 200;
// The link address a rendered document's sheet carries when a page begins on it, followed by
// the page's 0-based place in the document.
inline constexpr char kPageStartLink[] = "paginor-page-start:";

struct PdfRenderResult {
    bool ok = false;
    // When the document was too large to print: the sheets each of its pages would take.
    std::vector<int> sheetsNeeded;
};

// Renders the document the browser has loaded into a PDF file, each page from a sheet of its
// own. With markPageStarts the sheet each page begins on carries a kPageStartLink link. done
// runs once, on the user-interface thread.
class PdfRenderer {
public:
    virtual ~PdfRenderer() = default;
    virtual void renderPdf(const std::string& path, const PdfPageLayout& layout,
                           bool markPageStarts,
                           std::function<void(const PdfRenderResult&)> done) = 0;
};

// Runs work away from the user-interface thread, then done on it.
class BackgroundRunner {
public:
    virtual ~BackgroundRunner() = default;
    virtual void run(std::function<void()> work, std::function<void()> done) = 0;
};

// The print-task dialog as the view reports to it.
class PrintTaskReceiver {
public:
    virtual bool OnTaskDone(const std::string& command, bool printed, int pageCount) = 0;

protected:
    ~PrintTaskReceiver() = default;
};

// What the view's printing asks of the window around it.
class PrintUi {
public:
    virtual ~PrintUi() = default;
    virtual std::string printWindowTitle() const = 0;
    virtual void setPrintWindowTitle(const std::string& title) = 0;
    // One timer: starting it again replaces the running one.
    virtual void startPrintTimer(int milliseconds, std::function<void()> expired) = 0;
    virtual void stopPrintTimer() = 0;
    // Lets the user choose paper, orientation and margins (texts in inches, in and out) for the
    // driver's current printer; true when the dialog was shown.
    virtual bool showPageSetupDialog(CWebBrowserPrint& driver, MarginTexts& margins) = 0;
};

}  // namespace paginor
