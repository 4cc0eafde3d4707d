#pragma once

#include <QAction>
#include <QDialog>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "app/command_table.h"
#include "app/qt/small_dialogs.h"

namespace paginor {

class CFoliantDoc;
class MainWindow;
class SettingsStore;
class UiServices;

// The menu commands that are not the frame's own: text size, URL keywords, Test URL, the update
// commands, help, About, Get PDF Output and the file-type registration; and the enable and check
// rules of every command, applied to the window's actions and navigation buttons.
class MenuCommands : public QObject {
    Q_OBJECT
public:
    MenuCommands(MainWindow& window, CFoliantDoc& doc, UiServices& ui, SettingsStore& settings);
    ~MenuCommands() override;

    // The address the shown report came from (Get PDF Output).
    void setReportAddress(std::function<std::string()> address) {
        m_reportAddress = std::move(address);
    }
    // For runs without a person at the screen.
    void setOpener(Opener opener) { m_opener = std::move(opener); }
    void setDialogRunner(std::function<int(QDialog&)> run) { m_runDialog = std::move(run); }
    void setAddOnLibrary(std::string path) { m_addOnLibrary = std::move(path); }

    // Runs a command this object handles; false for any other.
    bool Run(int id);
    void UpdateCommandStates();
    CommandContext context() const;
    // The window's action of a command, null when it has none.
    QAction* action(int id) const;

    // The keyword dialog of a group ("keywords" .. "keywords4"); true after OK.
    bool OnKeywordSetup(const std::string& group);
    // The update worker: flags 3 from the menu, 1 or 0 at start-up.
    void StartUpdateThread(unsigned flags);

private:
    void addMenuItems();
    QAction* addCommand(QMenu* menu, QAction* before, int id);
    void OnKeywordGroup(const SettingValue& group);
    void OnTestUrl(const SettingValue* group);
    void OnAutoUpdateSettings();
    void OnCheckForNewVersion();
    void OnAddOnStatus();
    void OnManual();
    void OnOnlineManual();
    void OnAbout();
    void OnGetPdfOutput();
    void OnSetAsDefault();
    void open(const std::string& pathOrUrl);

    MainWindow& m_window;
    CFoliantDoc& m_doc;
    UiServices& m_ui;
    SettingsStore& m_settings;
    std::function<std::string()> m_reportAddress;
    Opener m_opener;
    std::function<int(QDialog&)> m_runDialog;
    std::string m_addOnLibrary;
    QTimer m_stateTimer;
    std::thread m_updateWorker;
    std::atomic<bool> m_updateWorkerDone{true};
};

}  // namespace paginor
