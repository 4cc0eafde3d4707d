#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_ui_services.h"
#include "platform/settings_store.h"

namespace paginor {

// The application object: builds the document, the frame and the view, shows the main window and
// opens the report named on the command line.
class CFoliantApp {
public:
    static constexpr const char* kMainTitle = "Paginor--Partner of Oracle Report Server";

    CFoliantApp();
    ~CFoliantApp();

    // True when the message loop is to run.
    bool InitInstance(const std::vector<std::string>& arguments);

    CFoliantDoc& document() { return m_doc; }
    MainWindow& mainWindow() { return *m_window; }

private:
    void openLocalReport(const std::string& path);

    QtUiServices m_ui;
    FileSettingsStore m_settings;
    CFoliantDoc m_doc;
    std::unique_ptr<MainWindow> m_window;
};

}  // namespace paginor
