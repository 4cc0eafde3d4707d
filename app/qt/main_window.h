#pragma once

#include <QMainWindow>
#include <QSplitter>
#include <QToolBar>
#include <atomic>
#include <functional>
#include <memory>

#include "app/export_command.h"
#include "app/foliant_view.h"
#include "app/main_frame.h"
#include "app/qt/bars.h"
#include "app/qt/export_progress.h"
#include "app/qt/print_queue_wiring.h"
#include "app/qt/print_support.h"
#include "app/qt/report_browser.h"

namespace paginor {

class CFoliantDoc;
class SettingsStore;

// The main window: big toolbar, navigation bar, the splitter with the page list and the report
// view, and the progress status bar. The frame's logic drives it through FrameWidgets.
class MainWindow : public QMainWindow, public FrameWidgets {
    Q_OBJECT
public:
    MainWindow(CFoliantDoc& doc, UiServices& ui, SettingsStore& settings);
    ~MainWindow() override;

    CMainFrame& frame() { return *m_frame; }
    CFoliantView& view() { return *m_view; }
    CWebBrowserPrint& printDriver() { return m_printing->driver(); }
    QueuePrinting& queuePrinting() { return *m_queuePrinting; }
    ReportBrowser* browser() const { return m_browser; }
    NavigateBar* navigateBar() const { return m_navigateBar; }
    CLeftBarDlg* leftBar() const { return m_leftPane->dialog(); }
    CProgStatusBar* progStatusBar() const { return m_statusBar; }
    QSplitter* splitter() const { return m_splitter; }
    QToolBar* bigToolBar() const { return m_bigToolBar; }
    // Replaces the open-file dialog, for runs without a person at the screen.
    void setFileChooser(std::function<std::string()> chooser) {
        m_fileChooser = std::move(chooser);
    }
    // What the export command uses around it: its dialog, opener and progress; tests replace
    // parts of it.
    ExportEnvironment& exportEnvironment() { return m_export; }
    // Runs the export command; its conversion runs on a thread of its own behind a progress
    // window whose Cancel stops it.
    void OnOutputToExcel();
    // The progress window of a running export; null otherwise.
    ExportProgressWindow* exportProgress() const { return m_exportProgress; }
    // Replaces the Save As dialog, for runs without a person at the screen.
    void setSaveAsChooser(std::function<std::string()> chooser) {
        m_saveAsChooser = std::move(chooser);
    }
    void OnFileSaveAs();
    QAction* outputAction() const { return m_outputAction; }
    QAction* saveAsAction() const { return m_saveAsAction; }
    // Enables the commands that depend on the report and the print dialog.
    void updateCommandStates();

    std::string pageFieldText(PageField field) const override;
    void setPageFieldText(PageField field, const std::string& text) override;
    void selectPageField(PageField field) override;
    void fillPageList(std::int32_t pageCount) override;
    void selectPageListEntry(std::int32_t index) override;
    std::string windowTitle() const override;
    void setWindowTitle(const std::string& title) override;
    std::string chooseReportFile() override;
    std::int32_t leftPaneWidth() const override;
    void setProgress(int percent) override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void runExportWork(const std::function<void()>& work);
    void showExportProgress(int percent);
    QLineEdit* field(PageField which) const;

    CFoliantDoc& m_doc;
    UiServices& m_ui;
    SettingsStore& m_settings;
    ReportBrowser* m_browser;
    std::unique_ptr<CFoliantView> m_view;
    std::unique_ptr<CMainFrame> m_frame;
    std::unique_ptr<ViewPrinting> m_printing;
    std::unique_ptr<QueuePrinting> m_queuePrinting;
    QAction* m_printAction = nullptr;
    QToolBar* m_bigToolBar = nullptr;
    NavigateBar* m_navigateBar = nullptr;
    CProgStatusBar* m_statusBar = nullptr;
    QSplitter* m_splitter = nullptr;
    CLeftDlgBarView* m_leftPane = nullptr;
    bool m_destroyed = false;
    std::function<std::string()> m_fileChooser;
    std::function<std::string()> m_saveAsChooser;
    ExportEnvironment m_export;
    std::atomic<std::int32_t> m_exportCancel{0};
    ExportProgressWindow* m_exportProgress = nullptr;
    QAction* m_outputAction = nullptr;
    QAction* m_saveAsAction = nullptr;
};

}  // namespace paginor
