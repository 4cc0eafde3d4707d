#include "app/qt/foliant_app.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <thread>

#include "app/auto_update.h"
#include "app/qt/download_dlg.h"
#include "app/settings_install.h"
#include "platform/fault_translation.h"
#include "platform/folders.h"
#include "platform/http_client.h"
#include "platform/printer_system.h"
#include "platform/process.h"
#include "platform/program_thread.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

constexpr int kGetPdfOutputCommand = 32802;

}  // namespace

CFoliantApp::CFoliantApp() = default;

CFoliantApp::~CFoliantApp() = default;

bool CFoliantApp::InitInstance(const std::vector<std::string>& arguments) {
    // Steps 1 to 3: faults are reported from here on (OLE has no Linux counterpart); the
    // document, frame and view are built here.
    InstallFaultTranslator();
    m_window = std::make_unique<MainWindow>(m_doc, m_ui, m_settings);
    m_ui.setParentWindow(m_window.get());
    m_commands = new MenuCommands(*m_window, m_doc, m_ui, m_settings);
    m_commands->setReportAddress([this] { return m_reportAddress; });
    m_doc.report().setProgressSink([this](int percent) { postProgress(percent); });
    m_window->queuePrinting().setReportAddress([this] { return m_reportAddress; });
    m_window->frame().setForgetReportAddress([this] { m_reportAddress.clear(); });
    const std::string dataFolder = appDataFolder();
    if (!dataFolder.empty()) {
        PageSetupStore& store = *m_doc.GetPageSetupStore();
        store.Load(dataFolder + "/" + PageSetupStore::kFileName);
        if (!store.loadProblem().empty())
            m_ui.messageBox(store.loadProblem(), MessageButtons::Ok, MessageIcon::Exclamation);
    }
    StartupContext context{m_settings, m_ui, *this, nowLocal(), supportAddress()};
    return RunStartup(JoinArguments(arguments), context);
}

void CFoliantApp::postProgress(int percent) {
    if (QThread::currentThread() == m_window->thread()) {
        m_window->frame().SetProgress(percent);
        return;
    }
    QPointer<MainWindow> window = m_window.get();
    QMetaObject::invokeMethod(
        m_window.get(),
        [window, percent] {
            if (window)
                window->frame().SetProgress(percent);
        },
        Qt::QueuedConnection);
}

void CFoliantApp::unregisterFileTypes() {
    UnregisterReportFileTypes(currentInstallEnvironment());
}

void CFoliantApp::installSettings() {
    const std::string error = InstallSettings(m_settings, currentInstallEnvironment());
    // An unwritable store would make every start a first run: say so once.
    if (!error.empty() && !keyExists(m_settings, kPaginorKey)) {
        m_ui.messageBox("The settings cannot be written: " + error, MessageButtons::Ok,
                        MessageIcon::Exclamation);
    }
}

void CFoliantApp::showMainWindow() {
    // Step 6: "Get PDF Output" and a separator before "Exit" in the File menu.
    for (QAction* menuAction : m_window->menuBar()->actions()) {
        QMenu* menu = menuAction->menu();
        if (menu == nullptr || menu->actions().isEmpty())
            continue;
        QAction* exitAction = menu->actions().last();
        if (!exitAction->text().contains(QStringLiteral("xit")))
            continue;
        auto* pdf = new QAction(QObject::tr("Get PDF Output"), menu);
        pdf->setData(kGetPdfOutputCommand);
        menu->insertAction(exitAction, pdf);
        menu->insertSeparator(exitAction);
        break;
    }
    m_window->show();
    m_window->setWindowTitle(std::string(kMainTitle));
}

std::string CFoliantApp::title() const {
    return m_window->windowTitle();
}

void CFoliantApp::setTitle(const std::string& text) {
    m_window->setWindowTitle(text);
}

void CFoliantApp::keywordSetup(const std::string& group) {
    m_commands->OnKeywordSetup(group);
}

void CFoliantApp::runJob(DownloadState& state, DownloadMode mode) {
    if (mode == DownloadMode::Initialise && !state.reportAddress.empty()) {
        m_reportAddress = state.reportAddress;
    }
    DownloadEnvironment env;
    env.progress = [this](int percent) { postProgress(percent); };
    DownloadDlg dialog(m_window.get());
    dialog.SetDownloadInfo(&state, mode);
    std::thread worker = StartThread([&state, &env, mode] {
        if (mode == DownloadMode::Download) {
            DownloadThreadProc(state, env);
        } else {
            InitReportThreadProc(state);
        }
    });
    // The dialog runs only while the worker has not finished yet.
    if (!state.closeRequested()) {
        dialog.exec();
    }
    worker.join();
    dialog.SetDownloadInfo(nullptr, mode);
    if (mode == DownloadMode::Download && !state.succeeded.load()) {
        m_reportAddress.clear();
    }
}

void CFoliantApp::openNonReportFile(const std::string& path, const std::string& address,
                                    bool print) {
    NonReportEnvironment env;
    env.settings = &m_settings;
    env.ui = &m_ui;
    CupsPrinterSystem printers;
    env.printers = &printers;
    std::string paper;
    int orientation = 0;
    m_doc.GetPageSetupStore()->LookupCurrent(paper, env.printer, orientation);
    env.address = address;
    OpenNonReportFile(path, print, env);
}

int CFoliantApp::runCommand(const std::string& command) {
    // Printing directly follows the first page at once: the page must have loaded, as writing
    // into the browser was done by the time the command ran on Windows.
    if (command.rfind("print", 0) == 0) {
        waitForPageLoad();
    }
    return m_window->frame().RunCommand(command);
}

void CFoliantApp::waitForPageLoad() {
    ReportBrowser* browser = m_window->browser();
    if (!browser->loading()) {
        return;
    }
    QEventLoop loop;
    QObject::connect(browser, &ReportBrowser::documentComplete, &loop, &QEventLoop::quit);
    QObject::connect(browser, &ReportBrowser::renderProcessGone, &loop, &QEventLoop::quit);
    QTimer::singleShot(kPageLoadWaitMs, &loop, &QEventLoop::quit);
    if (browser->loading()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }
}

void CFoliantApp::fillPageList() {
    m_window->frame().FillPageList();
}

void CFoliantApp::setProgress(int percent) {
    m_window->frame().SetProgress(percent);
}

std::int32_t CFoliantApp::pageCount() {
    return m_doc.report().GetPageCount();
}

bool CFoliantApp::applyPrintDirectives() {
    std::string printer;
    std::string paper;
    std::int32_t orientation = 0;
    return m_window->frame().ApplyPrintDirectives(true, printer, paper, orientation);
}

void CFoliantApp::openPrintSetup() {
    m_window->frame().OpenPrintSetup(false);
}

std::string CFoliantApp::printerName() const {
    return m_window->frame().printerName();
}

void CFoliantApp::setUpdating(bool updating) {
    m_window->frame().SetUpdating(updating);
}

void CFoliantApp::startUpdateThread(bool tellUser) {
    m_commands->StartUpdateThread(tellUser ? 1u : 0u);
}

void CFoliantApp::placeUpdateCheckWindow() {
    m_window->setGeometry(200, 0, 350, 150);
}

bool CFoliantApp::checkForUpdate(const std::string& configUrl, std::string& updaterPath) {
    const UpdateEnvironment env{m_settings, HttpClient::shared(), appDataFolder()};
    std::string message;
    bool newer = false;
    return CheckForUpdate(kSilentInstance, message, &configUrl, updaterPath, newer, env);
}

bool CFoliantApp::startProgram(const std::vector<std::string>& argv) {
    std::string error;
    return spawnDetached(argv, error);
}

}  // namespace paginor
