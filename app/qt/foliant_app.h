#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/qt/menu_commands.h"
#include "app/qt/qt_ui_services.h"
#include "app/startup.h"
#include "platform/settings_store.h"

namespace paginor {

// The application object: builds the document, the frame and the view, then runs
// the start-up decisions of RunStartup against the real window, the worker threads behind
// DownloadDlg and the settings store.
class CFoliantApp : public StartupActions {
public:
    static constexpr const char* kMainTitle = "Paginor--Partner of Oracle Report Server";

    CFoliantApp();
    ~CFoliantApp() override;

    // True when the message loop is to run.
    bool InitInstance(const std::vector<std::string>& arguments);

    CFoliantDoc& document() { return m_doc; }
    MainWindow& mainWindow() { return *m_window; }
    // The address of the report being shown when it came from "--url:".
    const std::string& reportAddress() const { return m_reportAddress; }

    // StartupActions
    void installSettings() override;
    void unregisterFileTypes() override;
    void showMainWindow() override;
    std::string title() const override;
    void setTitle(const std::string& title) override;
    void keywordSetup(const std::string& group) override;
    void runJob(DownloadState& state, DownloadMode mode) override;
    void openNonReportFile(const std::string& path, const std::string& address,
                           bool print) override;
    int runCommand(const std::string& command) override;
    void fillPageList() override;
    void setProgress(int percent) override;
    CReportCore& report() override { return m_doc.report(); }
    std::int32_t pageCount() override;
    bool applyPrintDirectives() override;
    void openPrintSetup() override;
    std::string printerName() const override;
    void setUpdating(bool updating) override;
    void startUpdateThread(bool tellUser) override;
    void placeUpdateCheckWindow() override;
    bool checkForUpdate(const std::string& configUrl, std::string& updaterPath) override;
    bool startProgram(const std::vector<std::string>& argv) override;

private:
    static constexpr int kPageLoadWaitMs = 60000;
    // Runs the event loop until the browser's page has loaded (or the wait ran out).
    void waitForPageLoad();
    // Progress from any thread: direct on the user-interface thread, else posted.
    void postProgress(int percent);

    QtUiServices m_ui;
    FileSettingsStore m_settings;
    CFoliantDoc m_doc;
    std::unique_ptr<MainWindow> m_window;
    MenuCommands* m_commands = nullptr;  // owned by the window
    std::string m_reportAddress;
};

}  // namespace paginor
