#include "app/main_frame.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <utility>

#include "app/export_command.h"
#include "app/foliant_doc.h"
#include "app/foliant_view.h"
#include "core/text_scan.h"
#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/replacing_file.h"
#include "platform/settings_table.h"
#include "platform/sys_error.h"

namespace paginor {

namespace {

constexpr char kNotUnderstood[] = "Sorry ,i can not understand what you mean";
constexpr char kInputInteger[] = "please input integer";
constexpr char kInputPagecode[] = "please input pagecode";

// A page number: digits only, at most kMaxPageDigits of them, within 32 bits.
bool parsePageNumber(const char* text, int length, std::int32_t& number) {
    if (length <= 0 || static_cast<std::size_t>(length) > CMainFrame::kMaxPageDigits ||
        !IsAllDigits(text, length)) {
        return false;
    }
    std::int64_t value = 0;
    std::from_chars(text, text + length, value);
    if (value > INT32_MAX) {
        return false;
    }
    number = static_cast<std::int32_t>(value);
    return true;
}

// The leading decimal number of a field's text, 0 when it has none.
std::int32_t fieldNumber(const std::string& text) {
    std::string cut = text.substr(0, CMainFrame::kMaxFieldChars);
    const char* p = cut.c_str();
    while (*p == ' ') {
        ++p;
    }
    std::int64_t value = 0;
    std::from_chars(p, cut.c_str() + cut.size(), value);
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

// Printer names joined by TAB.
std::vector<std::string> splitPrinterList(const std::string& list) {
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t tab = std::min(list.find('\t', at), list.size());
        if (tab > at) {
            names.push_back(list.substr(at, tab - at));
        }
        at = tab + 1;
    }
    return names;
}

std::string fileNameOf(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

// The view's print driver as the printing directives set it.
class ViewPrinterSetup : public PrinterSetupTarget {
public:
    explicit ViewPrinterSetup(CFoliantView& view) : m_view(view) {}
    bool PrintSetup(const std::string& paper, const std::string& printer, std::string& printerOut,
                    std::string& paperOut, std::int32_t& orientation, bool& printerSet,
                    bool& paperSet, std::string& paperNow) override {
        bool dialogNeeded = false;
        std::string list;
        int turned = orientation;
        if (!m_view.CallPrintSetup(paper, printer, printerOut, paperOut, turned, printerSet,
                                   paperSet, dialogNeeded, list)) {
            return false;
        }
        orientation = turned;
        paperNow = m_view.printPaper();
        return true;
    }

private:
    CFoliantView& m_view;
};

// The frame as the print-task queue sees it.
class FrameQueueHost : public PrintQueueHost {
public:
    explicit FrameQueueHost(CMainFrame& frame) : m_frame(frame) {}
    int RunCommand(const std::string& command) override { return m_frame.RunCommand(command); }
    void setTaskRunning(bool running) override { m_frame.setTaskRunning(running); }
    void setPrintDialogOpen(bool open) override { m_frame.m_doc.SetPrintDialogOpen(open); }
    std::string pageAddress() const override { return m_frame.pageAddress(); }
    bool bufferToFile() const override { return m_frame.bufferToFile(); }
    void disarmPrint() override { m_frame.m_view.DisarmPrint(m_frame.m_runningPrintDlg); }
    std::string lastPrintError() const override { return m_frame.m_view.lastPrintError(); }
    int lastPrintJob() const override { return m_frame.m_view.lastPrintJob(); }

private:
    CMainFrame& m_frame;
};

CMainFrame::CMainFrame(CFoliantDoc& doc, CFoliantView& view, FrameWidgets& widgets, UiServices& ui,
                       SettingsStore& settings)
    : m_doc(doc), m_view(view), m_widgets(widgets), m_ui(ui), m_settings(settings) {}

CMainFrame::~CMainFrame() {
    if (!m_tempPagePath.empty()) {
        RemoveFile(m_tempPagePath);
    }
}

bool CMainFrame::reportLoaded() const {
    return m_doc.report().state() == 1;
}

template <typename Fn>
int CMainFrame::guarded(Fn fn) {
    try {
        return fn();
    } catch (const ReportError&) {
        char text[kMaxShownErrorText];
        m_doc.report().GetErrorText(text, sizeof text);
        m_ui.messageBox(text, MessageButtons::Ok, MessageIcon::Stop);
        return 0;
    }
}

bool CMainFrame::parsePageNumbers(const char* text, const char* end, bool reportMissing) {
    const char* tokenStart = nullptr;
    char delimiter = 0;
    const char* p = text;
    int length = p <= end ? FindTokenInRange(p, &tokenStart, &delimiter, "", end) : 0;
    if (length == 0 || tokenStart == nullptr || tokenStart > end) {
        if (reportMissing) {
            m_ui.messageBox(kInputPagecode);
        }
        return false;
    }
    std::int32_t first = 0;
    if (!parsePageNumber(tokenStart, length, first)) {
        m_ui.messageBox(kInputInteger);
        return false;
    }
    m_firstPage = first;
    m_lastPage = first;
    p = tokenStart + length;
    if (p > end) {
        return true;
    }
    const char* secondStart = nullptr;
    length = FindTokenInRange(p, &secondStart, &delimiter, "", end);
    if (length == 0 || secondStart == nullptr || secondStart > end) {
        return true;
    }
    std::int32_t last = 0;
    if (!parsePageNumber(secondStart, length, last)) {
        m_ui.messageBox(kInputInteger);
        return false;
    }
    m_lastPage = last;
    return true;
}

int CMainFrame::RunCommand(const std::string& command) {
    if (m_taskRunning) {
        return 0;
    }
    std::string text = command.substr(0, kMaxCommandBytes);
    text = text.substr(0, text.find('\r'));
    if (text.empty()) {
        m_ui.messageBox(kNotUnderstood);
        return 0;
    }
    const char* start = text.c_str();
    const char* end = start + text.size() - 1;

    auto keywordEnd = [&](const char* keyword) -> const char* {
        const char* at = MatchTokenAt(start, keyword, "", end);
        return at != nullptr ? at + std::strlen(keyword) : nullptr;
    };
    // Reads the address or path of "open" and "navigate2": quoted up to the next quote, else
    // the next token. Empty when there is none or the quote is not closed.
    auto operand = [&](const char* from, bool& refused) -> std::string {
        refused = false;
        const char* p = from;
        while (p <= end && IsBlank(*p)) {
            ++p;
        }
        if (p > end) {
            return {};
        }
        if (*p == '"') {
            const char* quote = FindCharInRange(p + 1, '"', end);
            if (quote == nullptr) {
                m_ui.messageBox("Expecting \" at the end of cmmand line ", MessageButtons::Ok,
                                MessageIcon::Stop);
                refused = true;
                return {};
            }
            return std::string(p + 1, quote);
        }
        const char* q = p;
        while (q <= end && !IsBlank(*q)) {
            ++q;
        }
        return std::string(p, q);
    };

    if (const char* rest = keywordEnd("show")) {
        const std::int32_t oldFirst = m_firstPage;
        const std::int32_t oldLast = m_lastPage;
        if (!parsePageNumbers(rest, end, true)) {
            return 0;
        }
        int result = guarded([&] {
            ShowPages(m_firstPage, m_lastPage);
            return 1;
        });
        if (result == 0) {
            m_firstPage = oldFirst;
            m_lastPage = oldLast;
        }
        return result;
    }
    if (const char* word = MatchWordAt(start, "print", end)) {
        if (!parsePageNumbers(word + 5, end, true)) {
            return 0;
        }
        if (m_runningPrintDlg != nullptr) {
            return printTask(text);
        }
        return PrintPages(m_firstPage, m_lastPage, 1, true);
    }
    if (keywordEnd("about") != nullptr) {
        return guarded([&] {
            std::string page;
            m_doc.report().GetInfo(page);
            m_view.WriteHtml(page, false, false);
            return 1;
        });
    }
    if (const char* rest = keywordEnd("check")) {
        if (!parsePageNumbers(rest, end, false)) {
            return 0;
        }
        return guarded([&] {
            m_doc.report().GetPagesInRanges(m_firstPage, m_lastPage);
            return 1;
        });
    }
    const bool next = keywordEnd("nextpage") != nullptr;
    if (next || keywordEnd("prevpage") != nullptr) {
        if (!reportLoaded()) {
            return 0;
        }
        const std::int32_t count = m_doc.report().GetPageCount();
        std::int32_t page = 0;
        if (next) {
            page = m_lastPage < count ? m_lastPage + 1 : 1;
        } else {
            page = m_firstPage < 2 ? count : m_firstPage - 1;
        }
        const std::int32_t oldFirst = m_firstPage;
        const std::int32_t oldLast = m_lastPage;
        m_firstPage = m_lastPage = page;
        int result = guarded([&] {
            ShowPages(page, page);
            return 1;
        });
        if (result == 0) {
            m_firstPage = oldFirst;
            m_lastPage = oldLast;
        }
        return result;
    }
    if (const char* rest = keywordEnd("open")) {
        bool refused = false;
        std::string path = operand(rest, refused);
        if (path.empty()) {
            return 0;
        }
        return openReport(path) ? 1 : 0;
    }
    if (const char* rest = keywordEnd("navigate2")) {
        bool refused = false;
        std::string address = operand(rest, refused);
        if (address.empty()) {
            return 0;
        }
        m_view.Navigate2(address);
        return 1;
    }
    m_ui.messageBox(kNotUnderstood);
    return 0;
}

bool CMainFrame::openReport(const std::string& path) {
    std::string trace = "Try_Start";
    try {
        m_doc.report().Init(path, nullptr, true, &trace, nullptr, nullptr);
        return true;
    } catch (const ReportError&) {
        char text[kMaxShownErrorText];
        m_doc.report().GetErrorText(text, sizeof text);
        m_ui.messageBox(text, MessageButtons::Ok, MessageIcon::Stop);
        clearShownReport();
        return false;
    }
}

void CMainFrame::clearShownReport() {
    // The failed load left nothing to show: the old pages must not stay on screen.
    m_firstPage = 0;
    m_lastPage = 0;
    m_shownFirst = 0;
    m_shownLast = 0;
    m_widgets.fillPageList(0);
    m_widgets.setPageFieldText(PageField::First, "");
    m_widgets.setPageFieldText(PageField::Last, "");
    m_view.Navigate2("about:blank");
}

void CMainFrame::ShowPages(std::int32_t first, std::int32_t last) {
    CReportCore& report = m_doc.report();
    std::string html;
    report.GetPage(first, last, html, false);
    int top = 0;
    int left = 0;
    m_view.GetSetScrollPos(top, left, true);
    if (m_view.WriteHtml(html, false, report.IsRightToLeft())) {
        m_view.GetSetScrollPos(top, left, false);
        m_shownFirst = first;
        m_shownLast = last;
    }
    UpdatePageFields(first, last);
}

int CMainFrame::PrintPages(std::int32_t first, std::int32_t last, int mode, bool flag) {
    m_firstPage = first;
    m_lastPage = last;
    m_runningPrintDlg = nullptr;
    if (m_print == nullptr || !m_view.CanPrint()) {
        m_ui.messageBox("The print function doesn't work well now!");
        return 0;
    }
    if (m_printerName.empty()) {
        m_ui.messageBox("The printer name has not been initialed");
        return 0;
    }
    FrameQueueHost host(*this);
    CPrintDlg dialog(m_printerName, PrintQueueServices{host, m_print->spool, m_print->lock,
                                                       m_print->store, m_ui, supportAddress()});
    ReportTaskSource source(m_doc.report());
    // The interpreter passes one copy, collated; the print options pass the user's choice.
    dialog.SetPrintInfo(first, last, source, flag, mode);
    m_printDialogOpen = true;
    m_runningPrintDlg = &dialog;
    m_taskRunning = true;
    m_printCounter = 0;
    int top = 0;
    int left = 0;
    m_view.GetSetScrollPos(top, left, true);
    m_print->dialogs.RunPrintQueue(dialog);
    dialog.OnDestroy();
    m_runningPrintDlg = nullptr;
    m_printDialogOpen = false;
    m_taskRunning = false;
    showAfterPrinting(first, last, top, left);
    return dialog.outcome() == CPrintDlg::Outcome::Done ? 1 : 0;
}

void CMainFrame::showAfterPrinting(std::int32_t first, std::int32_t last, int top, int left) {
    if (m_shownFirst <= 0 || !reportLoaded()) {
        // Nothing was shown before: the view holds the last task printed, if any.
        if (m_printCounter > 0) {
            UpdatePageFields(m_firstPage, m_lastPage);
        } else {
            UpdatePageFields(first, last);
        }
        return;
    }
    // The print tasks went through the view: the pages the reader had are shown again, and the
    // page fields and the list name them.
    m_firstPage = m_shownFirst;
    m_lastPage = m_shownLast;
    if (m_printCounter == 0) {
        UpdatePageFields(m_firstPage, m_lastPage);
        return;
    }
    guarded([&] {
        ShowPages(m_firstPage, m_lastPage);
        m_view.GetSetScrollPos(top, left, false);
        return 1;
    });
}

void CMainFrame::UpdatePageFields(std::int32_t first, std::int32_t last) {
    m_widgets.setPageFieldText(PageField::First, std::to_string(first));
    m_widgets.setPageFieldText(PageField::Last, std::to_string(last));
    SelectPageInList(first - 1);
}

void CMainFrame::FillPageList() {
    m_widgets.fillPageList(reportLoaded() ? m_doc.report().GetPageCount() : 0);
    // A page may already be shown: the new list marks it too.
    if (m_firstPage > 0) {
        SelectPageInList(m_firstPage - 1);
    }
}

void CMainFrame::SelectPageInList(std::int32_t index) {
    m_widgets.selectPageListEntry(index);
}

bool CMainFrame::GetPageRangeFields(std::int32_t& first, std::int32_t& last) {
    const std::string firstText = m_widgets.pageFieldText(PageField::First);
    const std::string lastText = m_widgets.pageFieldText(PageField::Last);
    if (!firstText.empty()) {
        first = fieldNumber(firstText);
    }
    if (!lastText.empty()) {
        last = fieldNumber(lastText);
    }
    if (first > last) {
        std::swap(first, last);
    }
    return true;
}

void CMainFrame::ShowPage(std::int32_t page) {
    RunCommand("show " + std::to_string(page));
}

void CMainFrame::OnFirstPage() {
    if (reportLoaded()) {
        RunCommand("show 1");
    }
}

void CMainFrame::OnLastPage() {
    if (reportLoaded()) {
        RunCommand("show " + std::to_string(m_doc.report().GetPageCount()));
    }
}

void CMainFrame::OnReportDetail() {
    RunCommand("about");
}

void CMainFrame::OnFromPageEnter() {
    if (!reportLoaded()) {
        return;
    }
    const std::int32_t page = fieldNumber(m_widgets.pageFieldText(PageField::First));
    if (page >= 1 && page <= m_doc.report().GetPageCount()) {
        RunCommand("show " + std::to_string(page));
    }
    m_widgets.selectPageField(PageField::First);
}

void CMainFrame::OnToPageEnter() {
    if (!reportLoaded()) {
        return;
    }
    std::int32_t first = 1;
    std::int32_t last = 1;
    GetPageRangeFields(first, last);
    RunCommand("show " + std::to_string(first) + " " + std::to_string(last));
    m_widgets.selectPageField(PageField::Last);
}

void CMainFrame::OnFileOpen() {
    if (m_taskRunning) {
        return;
    }
    const std::string path = m_widgets.chooseReportFile();
    if (path.empty()) {
        return;
    }
    // A file opened here came from no web address.
    if (m_forgetReportAddress) {
        m_forgetReportAddress();
    }
    m_openedFromOutside = false;
    WaitCursor wait(m_ui);
    const std::string savedTitle = m_widgets.windowTitle();
    m_widgets.setWindowTitle("Initializing Report " + path);
    std::string trace = "Try_Start";
    try {
        m_doc.report().Init(path, nullptr, true, &trace, nullptr, nullptr);
    } catch (const ReportError&) {
        m_widgets.setWindowTitle(savedTitle);
        char text[kMaxShownErrorText];
        m_doc.report().GetErrorText(text, sizeof text);
        m_ui.messageBox(text, MessageButtons::Ok, MessageIcon::Stop);
        m_widgets.setWindowTitle("This program is Not Initialed");
        clearShownReport();
        SetProgress(0);
        return;
    }
    m_widgets.setWindowTitle(savedTitle);
    RunCommand("show 1");
    m_widgets.setWindowTitle(fileNameOf(path) + " -- Paginor");
    m_view.LoadMyPageSetup();
    FillPageList();
    UpdatePageFields(1, 1);
    SetProgress(0);
}

void CMainFrame::OnOutputToExcel(const ExportEnvironment& environment) {
    if (!CanOutputToExcel()) {
        return;
    }
    OutputToExcel(m_doc.report(), m_openedFromOutside, m_settings, m_ui, environment);
}

bool CMainFrame::CanOutputToExcel() const {
    return reportLoaded() && !m_doc.IsPrintDialogOpen();
}

void CMainFrame::OnFileSaveAs(const std::string& target) {
    if (reportLoaded()) {
        SaveReportAs(m_doc.report().reportPath(), target, m_ui);
    }
}

std::int32_t CMainFrame::OnCreateClient() {
    m_leftBarWidth = kDefaultLeftBarWidth;
    if (std::optional<std::uint32_t> width = readDwordSetting(m_settings, kLeftBarWidthValue)) {
        m_leftBarWidth = *width >= 101 ? kDefaultLeftBarWidth : static_cast<std::int32_t>(*width);
    }
    return m_leftBarWidth;
}

bool CMainFrame::OnClose() {
    if (m_updating) {
        m_ui.messageBox("Hey, I am updating myself, Please wait ... ");
        return false;
    }
    return true;
}

void CMainFrame::OnDestroy() {
    const std::int32_t width = m_widgets.leftPaneWidth();
    if (width != m_leftBarWidth && keyExists(m_settings, kPaginorKey)) {
        writeDwordSetting(m_settings, kLeftBarWidthValue, static_cast<std::uint32_t>(width));
    }
}

int CMainFrame::printTask(const std::string& command) {
    ++m_printCounter;
    const std::int32_t first = m_firstPage;
    const std::int32_t last = m_lastPage;
    const std::int32_t pages = last - first + 1;
    m_view.SetPageAddress(pageAddress());
    // The first task of a queue goes to the frame's printer, which then stays the driver's.
    if (m_printCounter == 1 && !m_printerName.empty()) {
        selectFramePrinter();
    }
    if (m_bufferToFile) {
        if (!m_view.SetPrintCommand(command, m_runningPrintDlg, first, pages)) {
            return 0;
        }
        const int written = guarded([&] {
            writePageFile(first, last);
            return 1;
        });
        if (written == 0) {
            m_view.DisarmPrint(m_runningPrintDlg);
            return 0;
        }
        m_view.Navigate2(m_pageFileAddress);
        return 1;
    }
    std::string html;
    if (guarded([&] {
            m_doc.report().GetPage(first, last, html, true);
            return 1;
        }) == 0) {
        return 0;
    }
    // A view that refused the print has printed nothing: the task failed. The page loads
    // asynchronously; the view prints when the browser reports it complete.
    return m_view.PrintHtml(html, command, m_runningPrintDlg, first, pages) ? 1 : 0;
}

void CMainFrame::selectFramePrinter() {
    std::string printer;
    std::string paper;
    std::string orientationText;
    std::string list;
    int orientation = 0;
    if (!m_view.CallGetPageSetup(printer, paper, orientation, orientationText, list)) {
        return;
    }
    bool printerSet = false;
    bool paperSet = false;
    bool dialogNeeded = false;
    m_view.CallPrintSetup("", m_printerName, printer, paper, orientation, printerSet, paperSet,
                          dialogNeeded, list);
}

void CMainFrame::writePageFile(std::int32_t first, std::int32_t last) {
    std::string html;
    m_doc.report().GetPage(first, last, html, true);
    ReplacingFile file(m_tempPagePath);
    if (!file.create() || !file.write(html) || !file.commit()) {
        m_doc.report().SetExceptionText(file.error(), "SPWF");
        throw ReportError(-1, m_doc.report().GetErrorText());
    }
    UpdatePageFields(first, last);
}

void CMainFrame::OnBufferToFile() {
    if (m_taskRunning) {
        return;
    }
    if (m_bufferToFile) {
        m_bufferToFile = false;
        m_pageFileAddress.clear();
        return;
    }
    if (m_tempPagePath.empty()) {
        // A name of its own in the user's private folder: two instances never share it.
        const std::string folder = privateTempFolder();
        std::string name;
        if (folder.empty() || !CreateUniqueFile(folder, "foliant", ".html", name)) {
            m_ui.messageBox("Cannot create the temporary page file: " +
                                (folder.empty() ? std::string("no private temporary folder")
                                                : systemErrorText(FileSystemError())),
                            MessageButtons::Ok, MessageIcon::Stop);
            return;
        }
        m_tempPagePath = name;
    }
    m_bufferToFile = true;
    m_pageFileAddress = "file://" + m_tempPagePath;
}

std::string CMainFrame::pageAddress() const {
    if (m_bufferToFile) {
        return m_pageFileAddress;
    }
    if (!reportLoaded()) {
        return "about:blank";
    }
    const CReportCore& report = m_doc.report();
    if (report.fromWebAddress() && m_print != nullptr && m_print->reportAddress) {
        std::string address = m_print->reportAddress();
        if (!address.empty()) {
            return address;
        }
    }
    return "file://" + report.reportPath();
}

bool CMainFrame::ApplyPrintDirectives(bool ask, std::string& printer, std::string& paper,
                                      std::int32_t& orientation) {
    orientation = 0;
    CReportCore& report = m_doc.report();
    if (!report.printerPaperPending()) {
        return true;
    }
    report.clearPrinterPaperPending();
    if (m_print == nullptr) {
        return false;
    }
    PrintDirectiveInput input;
    input.printer = report.printerDirective();
    input.paper = report.paperSizeDirective();
    input.orientation = report.orientationDirective();
    input.pageHeight = report.pageHeight();
    input.reportAddress = m_print->reportAddress ? m_print->reportAddress() : std::string();
    PrintDirectiveResult result;
    ViewPrinterSetup driver(m_view);
    const bool ok = paginor::ApplyPrintDirectives(input, ask, m_print->store, driver, m_ui, result);
    if (!ok) {
        return false;
    }
    printer = result.printer;
    paper = result.paper;
    orientation = result.orientation;
    setPrinterName(printer);
    return !m_printerName.empty();
}

void CMainFrame::OpenPrintSetup(bool applyDirectives) {
    if (m_print == nullptr) {
        m_ui.messageBox("The print function doesn't work well now!");
        return;
    }
    std::string printer;
    std::string paper;
    std::int32_t orientation = 0;
    if (applyDirectives) {
        ApplyPrintDirectives(false, printer, paper, orientation);
    }
    PrintSetup setup;
    std::int32_t pageHeight = 0;
    std::string unavailable;
    const int ready = guarded([&] {
        CReportCore& report = m_doc.report();
        const std::int32_t count = report.GetPageCount();
        pageHeight = report.pageHeight();
        const bool shown = m_firstPage > 0;
        // The printers are read afresh each time: some may have come or gone since.
        std::string current;
        std::string currentPaper;
        std::string orientationText;
        std::string list;
        int turned = orientation;
        if (!m_view.CallGetPageSetup(current, currentPaper, turned, orientationText, list)) {
            unavailable = m_view.printSetupError();
            return 0;
        }
        if (printer.empty() || paper.empty()) {
            printer = current;
            paper = currentPaper;
            orientation = turned;
        }
        m_printerList = splitPrinterList(list);
        setup.SetInfo(count, shown ? m_firstPage : 1, shown ? m_lastPage : count, m_firstPage,
                      m_lastPage, printer, paper, orientation);
        setup.OnInitDialog(pageHeight);
        return 1;
    });
    if (ready == 0) {
        // Nothing can be chosen: the print system is away or knows no printer.
        if (!unavailable.empty()) {
            m_ui.messageBox(unavailable, MessageButtons::Ok, MessageIcon::Stop);
        }
        return;
    }
    bool print = false;
    m_print->dialogs.RunPrintSetup(
        setup, m_printerList, pageHeight, [&](const PrintSetup::Choice& choice) {
            const PrintSetup::OkResult result = setup.OnOK(choice, pageHeight, m_print->store, m_ui,
                                                           supportAddress(), m_printerName);
            print = result == PrintSetup::OkResult::Print;
            return result;
        });
    if (print) {
        m_doc.report().setPagesPerPrintChunk(setup.pagesPerTask());
        PrintPages(setup.from(), setup.to(), setup.copies(), setup.collate());
    }
}

}  // namespace paginor
