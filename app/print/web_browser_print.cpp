#include "app/print/web_browser_print.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr char kAbandoned[] = "The print was given up before it reached the printer";

std::string formatNow(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[128];
    return std::strftime(text, sizeof text, format, &local) ? text : "";
}

bool sameIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

CWebBrowserPrint::CWebBrowserPrint(PrinterSystem& printers, BackgroundRunner& runner)
    : m_printers(printers), m_runner(runner) {}

bool CWebBrowserPrint::ensureCurrent(std::string& error) {
    // The printers are read each time: one removed since is current no more.
    if (m_haveCurrent) {
        std::vector<std::string> names;
        if (!m_printers.destinations(names, error))
            return false;
        if (std::find(names.begin(), names.end(), m_printer) != names.end())
            return true;
    }
    std::string name;
    if (!m_printers.defaultOrFirstDestination(name, error))
        return false;
    std::vector<PrinterMedia> media;
    std::string defaultMedia;
    if (!m_printers.media(name, media, defaultMedia, error))
        return false;
    m_printer = name;
    const int index = FindMedia(media, defaultMedia);
    m_paper = index >= 0 ? MediaShortName(media[static_cast<std::size_t>(index)]) : std::string();
    if (!m_haveCurrent)
        m_orientation = 0;
    m_haveCurrent = true;
    return true;
}

bool CWebBrowserPrint::GetPageSetup(std::string& printer, std::string& paper, int& orientation,
                                    std::string& orientationText, std::string& printerList) {
    printer.clear();
    paper.clear();
    orientation = 2;
    orientationText.clear();
    std::string& error = m_error;
    error.clear();
    if (!ensureCurrent(error))
        return false;
    if (printerList.empty()) {
        std::vector<std::string> names;
        if (!m_printers.destinations(names, error))
            return false;
        for (const std::string& name : names)
            printerList += (printerList.empty() ? "" : "\t") + name;
    }
    printer = m_printer;
    paper = m_paper;
    orientation = m_orientation;
    orientationText = m_orientation == 1 ? "Landscape" : "Portrait";
    return true;
}

bool CWebBrowserPrint::PrintSetup(const std::string& paper, const std::string& printer,
                                  std::string& printerOut, std::string& paperOut, int& orientation,
                                  bool& printerSet, bool& paperSet, bool& printDialogNeeded,
                                  std::string& printerList) {
    printerSet = true;
    paperSet = true;
    printDialogNeeded = false;
    std::string& error = m_error;
    error.clear();
    if (!ensureCurrent(error)) {
        printerSet = paperSet = false;
        return false;
    }
    printerOut = m_printer;
    paperOut = m_paper;
    std::vector<std::string> names;
    if (!m_printers.destinations(names, error)) {
        printerSet = paperSet = false;
        return false;
    }
    if (printerList.empty()) {
        for (const std::string& name : names)
            printerList += (printerList.empty() ? "" : "\t") + name;
    }
    std::string target = m_printer;
    if (!printer.empty()) {
        printerSet = false;
        for (const std::string& name : names) {
            if (sameIgnoringCase(name, printer)) {
                target = name;
                printerSet = true;
            }
        }
    }
    std::vector<PrinterMedia> media;
    std::string defaultMedia;
    if (!m_printers.media(target, media, defaultMedia, error)) {
        printerSet = paperSet = false;
        return false;
    }
    m_printer = target;
    if (!paper.empty()) {
        const int index = FindMediaByPrefix(media, paper);
        paperSet = index >= 0;
        if (paperSet)
            m_paper = MediaShortName(media[static_cast<std::size_t>(index)]);
    }
    if (orientation == 0 || orientation == 1)
        m_orientation = orientation;
    orientation = m_orientation;
    return true;
}

bool CWebBrowserPrint::CurrentMedia(std::vector<PrinterMedia>& media, std::string& error) {
    media.clear();
    std::string defaultMedia;
    const bool known =
        ensureCurrent(error) && m_printers.media(m_printer, media, defaultMedia, error);
    m_error = known ? std::string() : error;
    return known;
}

bool CWebBrowserPrint::chosenMedia(PrinterMedia& chosen, std::string& error) {
    std::vector<PrinterMedia> media;
    std::string defaultMedia;
    if (!ensureCurrent(error) || !m_printers.media(m_printer, media, defaultMedia, error))
        return false;
    int index = FindMedia(media, m_paper);
    if (index < 0)
        index = FindMedia(media, defaultMedia);
    if (index < 0 && !media.empty())
        index = 0;
    if (index < 0) {
        // A printer that names no papers still prints: on A4 without hardware margins.
        chosen = PrinterMedia{"iso_a4_210x297mm", "A4", "A4", 21000, 29700, 0, 0, 0, 0};
        return true;
    }
    chosen = media[static_cast<std::size_t>(index)];
    return true;
}

std::string TooLargeToPrintText(const std::vector<int>& sheetsNeeded, int firstPage) {
    const std::string most = std::to_string(kMaxPrintSheets);
    std::size_t largest = 0;
    long total = 0;
    for (std::size_t i = 0; i < sheetsNeeded.size(); ++i) {
        total += sheetsNeeded[i];
        if (sheetsNeeded[i] > sheetsNeeded[largest])
            largest = i;
    }
    if (sheetsNeeded.empty())
        return "The pages are too large to print";
    if (sheetsNeeded[largest] > kMaxPrintSheets || sheetsNeeded.size() == 1) {
        return "Page " + std::to_string(firstPage + static_cast<int>(largest)) +
               " is too large to print: it would take about " +
               std::to_string(sheetsNeeded[largest]) + " sheets, and one print takes at most " +
               most;
    }
    return "Pages " + std::to_string(firstPage) + "-" +
           std::to_string(firstPage + static_cast<int>(sheetsNeeded.size()) - 1) +
           " are too large to print together: they would take about " + std::to_string(total) +
           " sheets, and one print takes at most " + most + ". Print fewer pages per task";
}

void CWebBrowserPrint::PrintWithoutPrompt(const std::string& title, int firstPage, int reportPages,
                                          PrintDone done) {
    std::string error;
    if (m_stage) {
        done(false, 0, "Another print is still running");
        return;
    }
    if (!m_renderer) {
        done(false, 0, "There is no document to print");
        return;
    }
    PrinterMedia media;
    if (!chosenMedia(media, error)) {
        done(false, 0, error);
        return;
    }
    std::string path = privateTempFolder();
    if (path.empty()) {
        done(false, 0, "No private temporary folder");
        return;
    }
    const std::string folder = path;
    if (!CreateUniqueFile(folder, "print-", ".pdf", path)) {
        done(false, 0, folder + "/print-XXXXXX.pdf: " + systemErrorText(FileSystemError()));
        return;
    }
    const PdfPageLayout layout = MakePageLayout(media, m_orientation == 1, m_texts.margins,
                                                !m_texts.header.empty(), !m_texts.footer.empty());
    HeaderFooterFields fields;
    fields.pages = reportPages;
    fields.title = title;
    fields.address = title;
    fields.shortDate = formatNow("%x");
    fields.longDate = formatNow("%A, %B %d, %Y");
    fields.time = formatNow("%X");
    fields.time24 = formatNow("%H:%M");
    const std::string printer = m_printer;
    const PrinterOptions options = {{"media", media.pwgName}};
    const PageSetupTexts texts = m_texts;
    const bool stamp = !texts.header.empty() || !texts.footer.empty();
    const auto stage = std::make_shared<std::atomic<Stage>>(Stage::Preparing);
    m_stage = stage;
    const auto finish = [this, stage, done](bool printed, int jobId, const std::string& error) {
        if (m_stage == stage) {
            m_stage.reset();
        }
        done(printed, jobId, error);
    };
    // Only a header or footer needs to know which report page each sheet shows.
    m_renderer->renderPdf(path, layout, stamp, [=, this](const PdfRenderResult& rendered) {
        if (!rendered.ok || stage->load() == Stage::Abandoned) {
            RemoveFile(path);
            finish(false, 0,
                   rendered.ok ? kAbandoned
                   : !rendered.sheetsNeeded.empty()
                       ? TooLargeToPrintText(rendered.sheetsNeeded, firstPage)
                       : "The page could not be rendered for printing");
            return;
        }
        struct Outcome {
            bool printed = false;
            int jobId = 0;
            std::string error;
        };
        auto result = std::make_shared<Outcome>();
        m_runner.run(
            [=, this] {
                std::string failure;
                std::vector<int> sheetPages;
                const bool stamped =
                    !stamp || (TakePageStarts(path, firstPage, sheetPages, failure) &&
                               StampHeaderFooter(path, texts.header, texts.footer, fields,
                                                 sheetPages, layout, failure));
                // From here on the job is the printer's: a print given up before gets no job.
                Stage preparing = Stage::Preparing;
                if (stamped && !stage->compare_exchange_strong(preparing, Stage::Submitted)) {
                    failure = kAbandoned;
                } else if (stamped) {
                    result->printed =
                        m_printers.submitPdf(printer, title, path, options, result->jobId, failure);
                }
                result->error = failure;
                RemoveFile(path);
            },
            [=] { finish(result->printed, result->jobId, result->error); });
    });
}

bool CWebBrowserPrint::AbandonPrint() {
    if (!m_stage)
        return true;
    Stage preparing = Stage::Preparing;
    return m_stage->compare_exchange_strong(preparing, Stage::Abandoned) ||
           preparing == Stage::Abandoned;
}

}  // namespace paginor
