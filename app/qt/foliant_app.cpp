#include "app/qt/foliant_app.h"

#include <QApplication>

namespace paginor {

CFoliantApp::CFoliantApp() = default;

CFoliantApp::~CFoliantApp() = default;

bool CFoliantApp::InitInstance(const std::vector<std::string>& arguments) {
    m_window = std::make_unique<MainWindow>(m_doc, m_ui, m_settings);
    m_ui.setParentWindow(m_window.get());
    m_doc.report().setProgressSink([this](int percent) { m_window->setProgress(percent); });
    m_window->show();
    m_window->setWindowTitle(std::string(kMainTitle));
    // Switches, report addresses and link files come with the full start-up; a first argument is
    // taken as a local report path.
    if (!arguments.empty() && !arguments.front().empty()) {
        std::string path = arguments.front();
        if (path.front() == '"') {
            path = path.substr(1, path.size() >= 2 ? path.size() - 2 : 0);
        }
        openLocalReport(path);
    }
    return true;
}

void CFoliantApp::openLocalReport(const std::string& path) {
    const std::string savedTitle = m_window->windowTitle();
    m_window->setWindowTitle(std::string("Initializing Report"));
    std::string trace = "Try_Start";
    bool loaded = false;
    try {
        m_doc.report().Init(path, nullptr, false, &trace, nullptr, nullptr);
        loaded = true;
    } catch (const ReportError&) {
        char text[CMainFrame::kMaxShownErrorText];
        m_doc.report().GetErrorText(text, sizeof text);
        m_window->setWindowTitle(savedTitle);
        m_ui.messageBox(text, MessageButtons::Ok, MessageIcon::Stop);
    }
    if (loaded) {
        m_window->setWindowTitle(savedTitle);
        m_window->frame().FillPageList();
        m_window->frame().RunCommand("nextpage");
    }
    m_window->frame().SetProgress(0);
}

}  // namespace paginor
