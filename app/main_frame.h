#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/print/print_environment.h"
#include "app/ui_services.h"

namespace paginor {

class CFoliantDoc;
class CFoliantView;
class SettingsStore;
struct ExportEnvironment;

// Page fields of the navigation bar.
enum class PageField { First = 1005, Last = 1010 };

// The window parts the frame's logic drives; the Qt main window implements them.
class FrameWidgets {
public:
    virtual ~FrameWidgets() = default;
    virtual std::string pageFieldText(PageField field) const = 0;
    virtual void setPageFieldText(PageField field, const std::string& text) = 0;
    // Gives the field the focus with its whole text selected.
    virtual void selectPageField(PageField field) = 0;
    virtual void fillPageList(std::int32_t pageCount) = 0;
    // Selects a 0-based entry without reporting it back as the user's choice.
    virtual void selectPageListEntry(std::int32_t index) = 0;
    virtual std::string windowTitle() const = 0;
    virtual void setWindowTitle(const std::string& title) = 0;
    // Asks for a report file to open; empty when cancelled.
    virtual std::string chooseReportFile() = 0;
    virtual std::int32_t leftPaneWidth() const = 0;
    virtual void setProgress(int percent) = 0;
};

// The main frame's logic: the shown page range, the text-command interpreter through which every
// navigation reaches the report, File Open and the page fields.
class CMainFrame {
public:
    static constexpr std::size_t kMaxCommandBytes = 1999;  // the interpreter's command buffer
    static constexpr std::size_t kMaxPageDigits = 15;      // a page-number token
    static constexpr std::size_t kMaxFieldChars = 19;      // text read from a page field
    static constexpr std::size_t kMaxShownErrorText = 400;
    static constexpr std::int32_t kDefaultLeftBarWidth = 60;

    CMainFrame(CFoliantDoc& doc, CFoliantView& view, FrameWidgets& widgets, UiServices& ui,
               SettingsStore& settings);
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // 1 when the command was carried out, 0 when it was ignored, refused or answered.
    int RunCommand(const std::string& command);

    void ShowPages(std::int32_t first, std::int32_t last);
    int PrintPages(std::int32_t first, std::int32_t last, int mode, bool flag);
    void UpdatePageFields(std::int32_t first, std::int32_t last);
    void FillPageList();
    void SelectPageInList(std::int32_t index);
    bool GetPageRangeFields(std::int32_t& first, std::int32_t& last);
    void ShowPage(std::int32_t page);

    void OnNextPage() { RunCommand("nextpage"); }
    void OnPrevPage() { RunCommand("prevpage"); }
    void OnFirstPage();
    void OnLastPage();
    void OnReportDetail();
    void OnFileOpen();
    // How File Open empties the address the application remembers for a report from the web.
    void setForgetReportAddress(std::function<void()> forget) {
        m_forgetReportAddress = std::move(forget);
    }
    void OnFromPageEnter();
    void OnToPageEnter();
    // "Output to Excel or Html File...": the export dialog and what it asks for.
    void OnOutputToExcel(const ExportEnvironment& environment);
    bool CanOutputToExcel() const;
    // Save As onto the path chosen in the save dialog; empty when it was cancelled.
    void OnFileSaveAs(const std::string& target);
    bool CanSaveAs() const { return reportLoaded(); }

    // The left bar's width from the settings, for the splitter.
    std::int32_t OnCreateClient();
    // False while updating: the window stays open.
    bool OnClose();
    // Stores the left bar's width when it changed.
    void OnDestroy();

    // Printing: the print button (32787), the print options, the report's directives and
    // "Buffer To File While Printing" (32772).
    static constexpr std::size_t kMaxPrinterName = 199;
    void SetPrintEnvironment(PrintEnvironment* environment) { m_print = environment; }
    void OnPrintCommand() { OpenPrintSetup(true); }
    void OpenPrintSetup(bool applyDirectives);
    // False when printing is not to go on; the printer becomes the frame's printer name.
    bool ApplyPrintDirectives(bool ask, std::string& printer, std::string& paper,
                              std::int32_t& orientation);
    void OnBufferToFile();
    bool bufferToFile() const { return m_bufferToFile; }
    // The address under which pages are shown: the temporary page file's URL while buffering
    // to file, else the report's own address (the one it was downloaded from, or its file's
    // URL), "about:blank" without a report. Print jobs carry it as their title.
    std::string pageAddress() const;
    const std::string& tempPagePath() const { return m_tempPagePath; }
    const std::string& printerName() const { return m_printerName; }
    void setPrinterName(const std::string& name) {
        m_printerName = name.substr(0, kMaxPrinterName);
    }
    const std::vector<std::string>& printerList() const { return m_printerList; }
    std::int32_t printCounter() const { return m_printCounter; }
    bool printDialogOpen() const { return m_printDialogOpen; }
    CPrintDlg* runningPrintDlg() const { return m_runningPrintDlg; }

    void SetProgress(int percent) { m_widgets.setProgress(percent); }
    void SetUpdating(bool updating) { m_updating = updating; }

    std::int32_t firstPage() const { return m_firstPage; }
    std::int32_t lastPage() const { return m_lastPage; }
    bool taskRunning() const { return m_taskRunning; }
    void setTaskRunning(bool running) { m_taskRunning = running; }
    bool updating() const { return m_updating; }
    bool openedFromOutside() const { return m_openedFromOutside; }
    std::int32_t leftBarWidth() const { return m_leftBarWidth; }

private:
    friend class FrameQueueHost;

    bool reportLoaded() const;
    bool parsePageNumbers(const char* text, const char* end, bool reportMissing);
    // Runs fn; a report error is shown and makes the result 0.
    template <typename Fn>
    int guarded(Fn fn);
    bool openReport(const std::string& path);
    void clearShownReport();
    // "print" sent by the running print-task queue.
    int printTask(const std::string& command);
    void writePageFile(std::int32_t first, std::int32_t last);
    // Leaves the view, the page fields and the page list naming the same pages; the pages shown
    // before come back at the reader's place (top, left).
    void showAfterPrinting(std::int32_t first, std::int32_t last, int top, int left);
    void selectFramePrinter();

    CFoliantDoc& m_doc;
    CFoliantView& m_view;
    FrameWidgets& m_widgets;
    UiServices& m_ui;
    SettingsStore& m_settings;
    std::int32_t m_firstPage = 0;
    std::int32_t m_lastPage = 0;
    // The pages last written into the view for reading (not printing); 0 before any.
    std::int32_t m_shownFirst = 0;
    std::int32_t m_shownLast = 0;
    bool m_taskRunning = false;
    bool m_updating = false;
    bool m_openedFromOutside = true;
    std::function<void()> m_forgetReportAddress;
    std::int32_t m_leftBarWidth = kDefaultLeftBarWidth;

    PrintEnvironment* m_print = nullptr;
    bool m_bufferToFile = false;
    std::string m_pageFileAddress;
    std::string m_tempPagePath;
    std::string m_printerName;
    std::vector<std::string> m_printerList;
    std::int32_t m_printCounter = 0;
    bool m_printDialogOpen = false;
    CPrintDlg* m_runningPrintDlg = nullptr;
};

}  // namespace paginor
