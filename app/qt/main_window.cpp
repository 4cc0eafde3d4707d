#include "app/qt/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMetaObject>
#include <QThread>
#include <QTimer>
#include <thread>

#include "app/foliant_doc.h"
#include "app/qt/mail_dialogs.h"
#include "app/qt/my_page_setup.h"
#include "app/qt/to_excel_setup_window.h"
#include "platform/process.h"
#include "platform/program_thread.h"
#include "res/resource_ids.h"

// The images live in this static library's resources, which a program must pull in itself.
static void initPaginorResources() {
    Q_INIT_RESOURCE(paginor);
}

namespace paginor {

MainWindow::MainWindow(CFoliantDoc& doc, UiServices& ui, SettingsStore& settings)
    : m_doc(doc), m_ui(ui), m_settings(settings) {
    initPaginorResources();
    setWindowIcon(QIcon(res::kFrameIcon));
    m_browser = new ReportBrowser(this);
    m_view = std::make_unique<CFoliantView>(doc, *m_browser, ui, settings);
    m_frame = std::make_unique<CMainFrame>(doc, *m_view, *this, ui, settings);
    m_printing = std::make_unique<ViewPrinting>(this, m_browser, *m_view);
    m_queuePrinting =
        std::make_unique<QueuePrinting>(this, *doc.GetPageSetupStore(), *m_view, ui, [this] {
            MyPageSetup dialog(*m_view, m_settings, m_ui, this);
            dialog.exec();
        });
    m_frame->SetPrintEnvironment(&m_queuePrinting->environment());

    m_statusBar = new CProgStatusBar(this);
    setStatusBar(m_statusBar);

    m_bigToolBar = new QToolBar(tr("Toolbar"), this);
    m_bigToolBar->setObjectName(QStringLiteral("bigToolBar"));
    m_bigToolBar->setIconSize(QSize(32, 32));
    addToolBar(Qt::TopToolBarArea, m_bigToolBar);

    m_navigateBar = new NavigateBar(this);
    addToolBar(Qt::TopToolBarArea, m_navigateBar);
    m_navigateBar->InitButtons();
    connect(m_navigateBar, &NavigateBar::command, this, [this](int id) {
        switch (id) {
            case res::kPrevPage:
                m_frame->OnPrevPage();
                break;
            case res::kNextPage:
                m_frame->OnNextPage();
                break;
            case res::kFirstPage:
                m_frame->OnFirstPage();
                break;
            case res::kLastPage:
                m_frame->OnLastPage();
                break;
            default:
                break;
        }
    });
    connect(m_navigateBar, &NavigateBar::firstFieldEntered, this,
            [this] { m_frame->OnFromPageEnter(); });
    connect(m_navigateBar, &NavigateBar::lastFieldEntered, this,
            [this] { m_frame->OnToPageEnter(); });

    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_leftPane = new CLeftDlgBarView(m_splitter);
    m_splitter->addWidget(m_leftPane);
    m_splitter->addWidget(m_browser);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setChildrenCollapsible(false);
    setCentralWidget(m_splitter);
    const int leftWidth = m_frame->OnCreateClient();
    m_splitter->setSizes({leftWidth, 1000});
    connect(m_leftPane->dialog(), &CLeftBarDlg::pageChosen, this,
            [this](int page) { m_frame->ShowPage(page); });

    m_export.runDialog = [this](ToExcelSetupDlg& choices) {
        ToExcelSetupWindow dialog(choices, m_settings, m_ui, this);
        return dialog.exec() == QDialog::Accepted;
    };
    m_export.open = openWithDefaultProgram;
    m_export.runAccountDialog = [this] {
        CEmailAcctSetup dialog(m_settings, m_ui, this);
        return dialog.exec() == QDialog::Accepted;
    };
    // The conversion's thread reports through the window's own.
    m_export.progress = [this](int percent) {
        if (QThread::currentThread() == thread()) {
            showExportProgress(percent);
            return;
        }
        QMetaObject::invokeMethod(
            this, [this, percent] { showExportProgress(percent); }, Qt::QueuedConnection);
    };
    m_export.runWork = [this](const std::function<void()>& work) { runExportWork(work); };
    m_export.cancel = &m_exportCancel;
    m_export.homeFolder = QDir::homePath().toStdString();

    createActions();
    resize(1024, 768);
}

MainWindow::~MainWindow() = default;

void MainWindow::createActions() {
    auto* open = new QAction(QIcon(res::kOpenImage), tr("&Open...\tCtrl+O"), this);
    open->setShortcut(QKeySequence::Open);
    open->setToolTip(tr("Open"));
    connect(open, &QAction::triggered, this, [this] { m_frame->OnFileOpen(); });

    auto* detail = new QAction(QIcon(res::kReportDetailImage), tr("Current Report Detail"), this);
    connect(detail, &QAction::triggered, this, [this] { m_frame->OnReportDetail(); });

    auto* send = new QAction(QIcon(res::kSendImage), tr("&Send To ..."), this);
    connect(send, &QAction::triggered, this, [this] {
        runSendTo(this, m_doc.report().state() == 1, m_doc.report().reportPath(), m_settings, m_ui);
    });
    auto* account = new QAction(tr("Email Accout Setup..."), this);
    connect(account, &QAction::triggered, this, [this] {
        CEmailAcctSetup dialog(m_settings, m_ui, this);
        dialog.exec();
    });

    auto* myPageSetup = new QAction(tr("My Page Setup ..."), this);
    connect(myPageSetup, &QAction::triggered, this, [this] {
        MyPageSetup dialog(*m_view, m_settings, m_ui, this);
        dialog.exec();
    });

    // Print: enabled while a report is loaded.
    auto* print = new QAction(QIcon(res::kPrintImage), tr("Print"), this);
    print->setData(res::kPrint);
    print->setEnabled(false);
    connect(print, &QAction::triggered, this, [this] {
        if (m_doc.report().state() == 1) {
            m_frame->OnPrintCommand();
        }
    });
    m_printAction = print;
    auto* bufferToFile = new QAction(tr("Buffer To File While Printing"), this);
    bufferToFile->setCheckable(true);
    connect(bufferToFile, &QAction::triggered, this, [this, bufferToFile] {
        m_frame->OnBufferToFile();
        bufferToFile->setChecked(m_frame->bufferToFile());
    });

    auto* output =
        new QAction(QIcon(res::kExportImage), tr("Output to Excel or Html File..."), this);
    m_outputAction = output;
    connect(output, &QAction::triggered, this, [this] { OnOutputToExcel(); });
    m_saveAsAction = new QAction(tr("Save &As ..."), this);
    connect(m_saveAsAction, &QAction::triggered, this, [this] { OnFileSaveAs(); });

    auto* exit = new QAction(tr("E&xit"), this);
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu* file = menuBar()->addMenu(tr("&File"));
    file->addAction(open);
    file->addAction(m_saveAsAction);
    file->addAction(send);
    file->addAction(output);
    file->addSeparator();
    file->addAction(exit);

    QMenu* viewMenu = menuBar()->addMenu(tr("&View"));
    QAction* toolbar = m_bigToolBar->toggleViewAction();
    toolbar->setText(tr("&Toolbar"));
    viewMenu->addAction(toolbar);
    auto* statusBarAction = new QAction(tr("&Status Bar"), this);
    statusBarAction->setCheckable(true);
    statusBarAction->setChecked(true);
    connect(statusBarAction, &QAction::toggled, m_statusBar, &QWidget::setVisible);
    viewMenu->addAction(statusBarAction);
    QAction* navigation = m_navigateBar->toggleViewAction();
    navigation->setText(tr("&Navigation Bar"));
    viewMenu->addAction(navigation);

    QMenu* settingsMenu = menuBar()->addMenu(tr("&Settings"));
    settingsMenu->addAction(myPageSetup);
    settingsMenu->addAction(bufferToFile);
    settingsMenu->addAction(account);

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    help->addAction(detail);

    m_bigToolBar->addAction(open);
    m_bigToolBar->addAction(detail);
    m_bigToolBar->addAction(print);
    m_bigToolBar->addAction(output);
    m_bigToolBar->addAction(send);

    connect(file, &QMenu::aboutToShow, this, [this] { updateCommandStates(); });
    // The toolbar's button follows the state as well, checked as often as a person can see.
    auto* states = new QTimer(this);
    connect(states, &QTimer::timeout, this, [this] { updateCommandStates(); });
    states->start(300);
    updateCommandStates();
}

void MainWindow::updateCommandStates() {
    m_outputAction->setEnabled(m_frame->CanOutputToExcel());
    m_saveAsAction->setEnabled(m_frame->CanSaveAs());
}

void MainWindow::OnOutputToExcel() {
    updateCommandStates();
    if (!m_outputAction->isEnabled()) {
        return;
    }
    m_exportCancel = 0;
    m_frame->OnOutputToExcel(m_export);
}

// The work runs on a thread of its own while this thread serves the window, so that a click on
// Cancel is taken at once, whatever the work is doing. The main window is disabled meanwhile:
// nothing of it can reach the report, yet the window system's close still reaches closeEvent,
// which a modal progress window would have kept from it.
void MainWindow::runExportWork(const std::function<void()>& work) {
    ExportProgressWindow progress([this] { m_exportCancel = 1; }, this);
    m_exportProgress = &progress;
    setEnabled(false);
    progress.setEnabled(true);
    progress.show();
    progress.activateWindow();
    QEventLoop loop;
    std::atomic<bool> done{false};
    std::thread worker = StartThread([&] {
        work();
        done = true;
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    // The loop ends before the work only when the application quits: the work is stopped, and
    // it reports nothing that needs this thread.
    if (!done) {
        m_exportCancel = 1;
    }
    worker.join();
    m_exportProgress = nullptr;
    setEnabled(true);
    m_statusBar->SetProgress(0);
}

void MainWindow::showExportProgress(int percent) {
    m_statusBar->SetProgress(percent);
    if (m_exportProgress != nullptr) {
        m_exportProgress->setProgress(percent);
    }
}

void MainWindow::OnFileSaveAs() {
    if (!m_frame->CanSaveAs()) {
        return;
    }
    std::string target;
    if (m_saveAsChooser) {
        target = m_saveAsChooser();
    } else {
        QFileDialog dialog(this, tr("Save As"));
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(QStringLiteral("htm"));
        dialog.setNameFilters({tr("HTML Files (*.html *.htm)"), tr("All Files (*)")});
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            target = dialog.selectedFiles().first().toStdString();
        }
    }
    m_frame->OnFileSaveAs(target);
}

QLineEdit* MainWindow::field(PageField which) const {
    return which == PageField::First ? m_navigateBar->firstField() : m_navigateBar->lastField();
}

std::string MainWindow::pageFieldText(PageField which) const {
    return field(which)->text().toStdString();
}

void MainWindow::setPageFieldText(PageField which, const std::string& text) {
    field(which)->setText(QString::fromStdString(text));
}

void MainWindow::selectPageField(PageField which) {
    QLineEdit* edit = field(which);
    edit->setFocus();
    edit->selectAll();
}

void MainWindow::fillPageList(std::int32_t pageCount) {
    m_leftPane->dialog()->setPageCount(pageCount);
    m_printAction->setEnabled(m_doc.report().state() == 1);
}

void MainWindow::selectPageListEntry(std::int32_t index) {
    m_leftPane->dialog()->selectEntry(index);
}

std::string MainWindow::windowTitle() const {
    return QMainWindow::windowTitle().toStdString();
}

void MainWindow::setWindowTitle(const std::string& title) {
    QMainWindow::setWindowTitle(QString::fromStdString(title));
}

std::string MainWindow::chooseReportFile() {
    if (m_fileChooser) {
        return m_fileChooser();
    }
    return QFileDialog::getOpenFileName(this, tr("Open"), QString(),
                                        tr("HTML Files (*.html *.htm);;All Files (*)"))
        .toStdString();
}

std::int32_t MainWindow::leftPaneWidth() const {
    return m_splitter->sizes().value(0);
}

void MainWindow::setProgress(int percent) {
    m_statusBar->SetProgress(percent);
    // A load on this thread must still repaint the bar.
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    // The export's work uses the report: closing does what Cancel does, and the window stays
    // until the work has ended.
    if (m_exportProgress != nullptr) {
        m_exportProgress->requestCancel();
        event->ignore();
        return;
    }
    if (!m_frame->OnClose()) {
        event->ignore();
        return;
    }
    if (!m_destroyed) {
        m_destroyed = true;
        m_frame->OnDestroy();
    }
    event->accept();
}

}  // namespace paginor
