#include "app/qt/menu_commands.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QMenu>
#include <QMenuBar>
#include <QMetaObject>
#include <QThread>
#include <chrono>
#include <filesystem>

#include "app/auto_update.h"
#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "app/settings_install.h"
#include "core/report_core.h"
#include "platform/folders.h"
#include "platform/http_client.h"
#include "platform/process.h"
#include "platform/program_thread.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

constexpr int kStateIntervalMs = 200;
constexpr const char kAddOnLibraryName[] = "libnavlet.so";
constexpr const char kAddOnStatusTool[] = "navlet-sts";
constexpr const char kManualFile[] = "manual.htm";

const char* commandText(int id) {
    for (const CommandEntry& entry : CommandTable()) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return "";
}

int commandOfText(const QString& text) {
    for (const CommandEntry& entry : CommandTable()) {
        if (text == QString::fromUtf8(entry.text)) {
            return entry.id;
        }
    }
    return 0;
}

QMenu* topMenu(QMenuBar* bar, const QString& title) {
    for (QAction* action : bar->actions()) {
        if (action->menu() != nullptr && action->text() == title) {
            return action->menu();
        }
    }
    return bar->addMenu(title);
}

// Message boxes asked for on a worker thread are shown on the user-interface thread, which
// waits for the answer; the wait cursor is a queued call.
class WorkerUi : public UiServices {
public:
    WorkerUi(UiServices& ui, QObject* guiObject) : m_ui(ui), m_guiObject(guiObject) {}

    MessageAnswer messageBox(const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override {
        return messageBoxTitled("Paginor", text, buttons, icon);
    }
    MessageAnswer messageBoxTitled(const std::string& title, const std::string& text,
                                   MessageButtons buttons, MessageIcon icon) override {
        MessageAnswer answer = MessageAnswer::No;
        QMetaObject::invokeMethod(
            m_guiObject, [&] { answer = m_ui.messageBoxTitled(title, text, buttons, icon); },
            QThread::currentThread() == m_guiObject->thread() ? Qt::DirectConnection
                                                              : Qt::BlockingQueuedConnection);
        return answer;
    }
    void setWaitCursor(bool on) override {
        UiServices* ui = &m_ui;
        QMetaObject::invokeMethod(
            m_guiObject, [ui, on] { ui->setWaitCursor(on); }, Qt::QueuedConnection);
    }

private:
    UiServices& m_ui;
    QObject* m_guiObject;  // outlives the worker
};

}  // namespace

MenuCommands::MenuCommands(MainWindow& window, CFoliantDoc& doc, UiServices& ui,
                           SettingsStore& settings)
    : QObject(&window),
      m_window(window),
      m_doc(doc),
      m_ui(ui),
      m_settings(settings),
      m_opener(defaultOpener()),
      m_runDialog([](QDialog& dialog) { return dialog.exec(); }),
      m_addOnLibrary(executableFolder() + "/" + kAddOnLibraryName) {
    addMenuItems();
    // The toolbars' buttons follow the state as MFC's idle updates did.
    connect(&m_stateTimer, &QTimer::timeout, this, &MenuCommands::UpdateCommandStates);
    m_stateTimer.start(kStateIntervalMs);
    UpdateCommandStates();
}

MenuCommands::~MenuCommands() {
    // A worker waiting for a box would wait for ever: its requests are dropped (the answer is
    // No) until it has ended.
    while (m_updateWorker.joinable() && !m_updateWorkerDone.load()) {
        QCoreApplication::removePostedEvents(this);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (m_updateWorker.joinable()) {
        m_updateWorker.join();
    }
}

QAction* MenuCommands::addCommand(QMenu* menu, QAction* before, int id) {
    auto* action = new QAction(QString::fromUtf8(commandText(id)), menu);
    action->setData(id);
    connect(action, &QAction::triggered, this, [this, id] { Run(id); });
    menu->insertAction(before, action);
    return action;
}

void MenuCommands::addMenuItems() {
    QMenuBar* bar = m_window.menuBar();
    QMenu* settings = topMenu(bar, tr("&Settings"));
    QAction* email = nullptr;
    for (QAction* action : settings->actions()) {
        if (commandOfText(action->text()) == cmd::kEmailAccountSetup) {
            email = action;
        }
    }
    QMenu* textSize = new QMenu(tr("Set Text Size"), settings);
    settings->insertMenu(email, textSize);
    auto* sizes = new QActionGroup(textSize);
    for (const int id : {cmd::kTextLargest, cmd::kTextLarge, cmd::kTextMedium, cmd::kTextSmall,
                         cmd::kTextSmallest}) {
        QAction* size = addCommand(textSize, nullptr, id);
        size->setCheckable(true);
        sizes->addAction(size);
    }
    QMenu* keywords = new QMenu(tr("URL Keyword Setup"), settings);
    settings->insertMenu(email, keywords);
    for (const int id :
         {cmd::kKeywordGroup1, cmd::kKeywordGroup2, cmd::kKeywordGroup3, cmd::kKeywordGroup4}) {
        addCommand(keywords, nullptr, id);
    }
    addCommand(settings, email, cmd::kTestUrl);
    addCommand(settings, email, cmd::kAutoUpdateSettings);
    addCommand(settings, nullptr, cmd::kSetAsDefault);

    QMenu* help = topMenu(bar, tr("&Help"));
    for (const int id : {cmd::kAddOnStatus, cmd::kManual, cmd::kOnlineManual,
                         cmd::kCheckForNewVersion, cmd::kAbout}) {
        addCommand(help, nullptr, id);
    }
    // "Get PDF Output" joins the File menu at start-up.
    QMenu* file = topMenu(bar, tr("&File"));
    connect(file, &QMenu::triggered, this, [this](QAction* action) {
        if (action->data().toInt() == cmd::kGetPdfOutput) {
            Run(cmd::kGetPdfOutput);
        }
    });
    for (QAction* menu : bar->actions()) {
        if (menu->menu() != nullptr) {
            connect(menu->menu(), &QMenu::aboutToShow, this, &MenuCommands::UpdateCommandStates);
        }
    }
}

CommandContext MenuCommands::context() const {
    CommandContext context;
    CReportCore& report = m_doc.report();
    context.loaded = report.state() == 1;
    context.firstPage = m_window.frame().firstPage();
    context.lastPage = m_window.frame().lastPage();
    context.pageCount = context.loaded ? report.GetPageCount() : 0;
    context.updating = m_window.frame().updating();
    context.printDialogOpen = m_doc.IsPrintDialogOpen();
    context.textSize = m_window.view().GetZoom();
    context.bufferToFile = m_window.frame().bufferToFile();
    return context;
}

QAction* MenuCommands::action(int id) const {
    for (QAction* action : m_window.findChildren<QAction*>()) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

void MenuCommands::UpdateCommandStates() {
    const CommandContext state = context();
    for (QAction* action : m_window.findChildren<QAction*>()) {
        if (!action->data().isValid()) {
            // Actions made elsewhere are known by their menu text.
            const int id = commandOfText(action->text());
            if (id == 0) {
                continue;
            }
            action->setData(id);
        }
        const auto rule = GetCommandState(action->data().toInt(), state);
        if (!rule) {
            continue;
        }
        action->setEnabled(rule->enabled);
        if (rule->checkable) {
            action->setCheckable(true);
            action->setChecked(rule->checked);
        }
    }
    for (const int id : {cmd::kFirstPage, cmd::kPrevPage, cmd::kNextPage, cmd::kLastPage}) {
        if (QWidget* button = m_window.navigateBar()->button(id)) {
            button->setEnabled(GetCommandState(id, state)->enabled);
        }
    }
}

bool MenuCommands::Run(int id) {
    if (const int size = TextSizeOfCommand(id); size >= 0) {
        m_window.view().SetZoom(size);
        UpdateCommandStates();
        return true;
    }
    switch (id) {
        case cmd::kKeywordGroup1:
            OnKeywordGroup(kKeywordsValue);
            return true;
        case cmd::kKeywordGroup2:
            OnKeywordGroup(kKeywords2Value);
            return true;
        case cmd::kKeywordGroup3:
            OnKeywordGroup(kKeywords3Value);
            return true;
        case cmd::kKeywordGroup4:
            OnKeywordGroup(kKeywords4Value);
            return true;
        case cmd::kTestUrl:
            OnTestUrl(nullptr);
            return true;
        case cmd::kAutoUpdateSettings:
            OnAutoUpdateSettings();
            return true;
        case cmd::kCheckForNewVersion:
            OnCheckForNewVersion();
            return true;
        case cmd::kAddOnStatus:
            OnAddOnStatus();
            return true;
        case cmd::kManual:
            OnManual();
            return true;
        case cmd::kOnlineManual:
            OnOnlineManual();
            return true;
        case cmd::kAbout:
            OnAbout();
            return true;
        case cmd::kGetPdfOutput:
            OnGetPdfOutput();
            return true;
        case cmd::kSetAsDefault:
            OnSetAsDefault();
            return true;
        default:
            return false;
    }
}

bool MenuCommands::OnKeywordSetup(const std::string& group) {
    const SettingValue* value = KeywordGroupValue(group);
    if (value == nullptr) {
        return false;
    }
    KeyWordSetup dialog(m_settings, m_ui, *value, m_addOnLibrary, &m_window);
    return m_runDialog(dialog) == QDialog::Accepted;
}

void MenuCommands::OnKeywordGroup(const SettingValue& group) {
    if (!OnKeywordSetup(group.name)) {
        return;
    }
    if (m_ui.messageBox(kKeywordTestQuestion, MessageButtons::YesNo, MessageIcon::Question) ==
        MessageAnswer::Yes) {
        OnTestUrl(&group);
    }
}

void MenuCommands::OnTestUrl(const SettingValue* group) {
    TestURLDlg dialog(m_settings, m_ui, group, m_opener, &m_window);
    m_runDialog(dialog);
}

void MenuCommands::OnAutoUpdateSettings() {
    const UpdateEnvironment env{m_settings, HttpClient::shared(), appDataFolder()};
    UpdateThreadServices services{m_ui, spawnDetached, nullptr,
                                  currentInstallEnvironment().programPath, todayLocal()};
    CAutoUpdateDlg dialog(env, services, &m_window);
    m_runDialog(dialog);
}

void MenuCommands::OnCheckForNewVersion() {
    m_window.frame().SetUpdating(true);
    StartUpdateThread(3);
}

void MenuCommands::StartUpdateThread(unsigned flags) {
    if (m_updateWorker.joinable()) {
        m_updateWorker.join();  // it has ended: the updating flag was clear
    }
    // Posted to this object, which outlives the worker: the call is dropped with the window.
    auto clear = [this] {
        QMetaObject::invokeMethod(
            this, [this] { m_window.frame().SetUpdating(false); }, Qt::QueuedConnection);
    };
    const std::string program = currentInstallEnvironment().programPath;
    m_updateWorkerDone = false;
    m_updateWorker = StartThread([this, flags, clear, program] {
        WorkerUi ui(m_ui, this);
        const UpdateEnvironment env{m_settings, HttpClient::shared(), appDataFolder()};
        UpdateThreadServices services{ui, spawnDetached, clear, program, todayLocal()};
        UpdateThreadProc(flags, env, services);
        m_updateWorkerDone = true;
    });
}

void MenuCommands::open(const std::string& pathOrUrl) {
    std::string error;
    if (!m_opener(pathOrUrl, error)) {
        m_ui.messageBox("Cannot open " + pathOrUrl + ": " + error, MessageButtons::Ok,
                        MessageIcon::Stop);
    }
}

void MenuCommands::OnAddOnStatus() {
    const std::string tool = executableFolder() + "/" + kAddOnStatusTool;
    std::string error;
    if (!spawnDetached({tool}, error)) {
        m_ui.messageBox("The browser add-on's status tool cannot be started: " + error,
                        MessageButtons::Ok, MessageIcon::Stop);
    }
}

void MenuCommands::OnManual() {
    const std::string manual = executableFolder() + "/" + kManualFile;
    std::error_code error;
    if (!std::filesystem::exists(manual, error)) {
        m_ui.messageBox("The manual is not installed: " + manual, MessageButtons::Ok,
                        MessageIcon::Stop);
        return;
    }
    open(manual);
}

void MenuCommands::OnOnlineManual() {
    open(kOnlineManualUrl);
}

void MenuCommands::OnAbout() {
    CAboutDlg dialog(m_ui, m_opener, &m_window);
    m_runDialog(dialog);
}

void MenuCommands::OnGetPdfOutput() {
    const PdfOutputUrl url =
        GetPdfOutputUrl(m_reportAddress ? m_reportAddress() : std::string(), supportAddress());
    if (!url.ok) {
        m_ui.messageBox(url.text);
        return;
    }
    open(url.text);
}

void MenuCommands::OnSetAsDefault() {
    std::string error;
    if (!RegisterReportFileTypeRrph(currentInstallEnvironment(), error)) {
        m_ui.messageBox("The report file type cannot be registered: " + error, MessageButtons::Ok,
                        MessageIcon::Stop);
    }
}

}  // namespace paginor
