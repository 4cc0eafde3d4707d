#include "app/qt/print_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "app/ui_services.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/replacing_file.h"

namespace paginor {

namespace {

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

CPrintDlgWindow::CPrintDlgWindow(CPrintDlg& queue, QWidget* parent)
    : QDialog(parent),
      m_queue(queue),
      m_tasks(new QListWidget(this)),
      m_status(new QLineEdit(this)),
      m_pause(new QPushButton(tr("Pause"), this)),
      m_cancel(new QPushButton(tr("Cancel"), this)),
      m_noDelay(new QRadioButton(tr("No delay"), this)),
      m_delay(new QRadioButton(tr("Delay After Each Task"), this)) {
    m_tasks->setUniformItemSizes(true);
    m_status->setReadOnly(true);
    // The waiting texts show whole, their count first.
    m_status->setMinimumWidth(
        m_status->fontMetrics().horizontalAdvance(
            QStringLiteral("10 print tasks in print queue ,waiting ") + QString(15, QChar('.'))) +
        2 * m_status->fontMetrics().averageCharWidth());
    auto* how = new QGroupBox(tr("How Printer Works"), this);
    auto* howLayout = new QVBoxLayout(how);
    howLayout->addWidget(m_noDelay);
    howLayout->addWidget(m_delay);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_pause);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("Tasks:"), this));
    layout->addWidget(m_tasks);
    layout->addWidget(m_status);
    layout->addWidget(how);
    layout->addLayout(buttons);
    m_pause->setAutoDefault(false);
    m_cancel->setAutoDefault(false);

    m_timer.setInterval(kTickMs);
    connect(&m_timer, &QTimer::timeout, this, [this] { m_queue.OnTimer(); });
    connect(m_pause, &QPushButton::clicked, this, [this] { m_queue.OnPauseButton(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { m_queue.OnCancel(); });
    connect(m_noDelay, &QRadioButton::clicked, this, [this] { m_queue.OnDelayChoice(true); });
    connect(m_delay, &QRadioButton::clicked, this, [this] { m_queue.OnDelayChoice(false); });
}

void CPrintDlgWindow::setTitle(const std::string& title) {
    setWindowTitle(text(title));
}

void CPrintDlgWindow::setStatus(const std::string& status) {
    // A text longer than the line shows its beginning, and whole in the tip.
    m_status->setText(text(status));
    m_status->setCursorPosition(0);
    m_status->setToolTip(m_status->text());
}

void CPrintDlgWindow::appendTasks(const std::vector<std::string>& commands) {
    QStringList items;
    items.reserve(static_cast<qsizetype>(commands.size()));
    for (const std::string& command : commands) {
        items.push_back(text(command));
    }
    m_tasks->addItems(items);
}

void CPrintDlgWindow::removeFirstTask() {
    delete m_tasks->takeItem(0);
}

void CPrintDlgWindow::setPauseButton(const std::string& label, bool enabled) {
    m_pause->setText(text(label));
    m_pause->setEnabled(enabled);
}

void CPrintDlgWindow::setCancelButton(const std::string& label, bool enabled) {
    m_cancel->setText(text(label));
    m_cancel->setEnabled(enabled);
}

void CPrintDlgWindow::setNoDelayChecked(bool noDelay) {
    (noDelay ? m_noDelay : m_delay)->setChecked(true);
}

void CPrintDlgWindow::startTimer() {
    m_timer.start();
}

void CPrintDlgWindow::endDialog() {
    m_timer.stop();
    m_ending = true;
    QDialog::done(QDialog::Accepted);
}

void CPrintDlgWindow::reject() {
    if (m_ending) {
        QDialog::reject();
        return;
    }
    m_queue.OnCancel();
}

PrintSetupDialog::PrintSetupDialog(PrintSetup& setup, const std::vector<std::string>& printers,
                                   OkHandler onOk, QWidget* parent)
    : QDialog(parent),
      m_setup(setup),
      m_onOk(std::move(onOk)),
      m_all(new QRadioButton(this)),
      m_pages(new QRadioButton(tr("Print Page"), this)),
      m_from(new QLineEdit(this)),
      m_to(new QLineEdit(this)),
      m_perTask(new QSpinBox(this)),
      m_copies(new QSpinBox(this)),
      m_collate(new QCheckBox(tr("Collate"), this)),
      m_printers(new QComboBox(this)),
      m_printer(new QLineEdit(this)),
      m_paper(new QLineEdit(this)),
      m_orientation(new QLineEdit(this)),
      m_pageSetup(new QPushButton(tr("Page Setup ..."), this)),
      m_printSetting(new QPushButton(tr("Print &Setting ..."), this)),
      m_beforeReport(new QPushButton(tr("Before Report Value.."), this)),
      m_print(new QPushButton(tr("&Print"), this)) {
    setWindowTitle(tr("Print"));
    m_perTask->setRange(1, PrintSetup::kMaxPagesPerTask);
    m_copies->setRange(1, PrintSetup::kMaxCopies);
    for (QLineEdit* edit : {m_printer, m_paper, m_orientation}) {
        edit->setReadOnly(true);
    }
    m_pageSetup->setEnabled(false);
    m_printSetting->setEnabled(false);
    m_beforeReport->setEnabled(false);

    auto* range = new QGroupBox(tr("Page Range"), this);
    auto* rangeLayout = new QGridLayout(range);
    rangeLayout->addWidget(m_all, 0, 0, 1, 4);
    rangeLayout->addWidget(m_pages, 1, 0);
    rangeLayout->addWidget(m_from, 1, 1);
    rangeLayout->addWidget(new QLabel(tr("to"), this), 1, 2);
    rangeLayout->addWidget(m_to, 1, 3);

    auto* printer = new QGroupBox(tr("Printer"), this);
    auto* printerLayout = new QGridLayout(printer);
    printerLayout->addWidget(m_printers, 0, 0, 1, 2);
    printerLayout->addWidget(new QLabel(tr("Printer:"), this), 1, 0);
    printerLayout->addWidget(m_printer, 1, 1);
    printerLayout->addWidget(new QLabel(tr("Paper size:"), this), 2, 0);
    printerLayout->addWidget(m_paper, 2, 1);
    printerLayout->addWidget(new QLabel(tr("Orientation:"), this), 3, 0);
    printerLayout->addWidget(m_orientation, 3, 1);
    auto* printerButtons = new QHBoxLayout;
    printerButtons->addWidget(m_printSetting);
    printerButtons->addWidget(m_pageSetup);
    printerLayout->addLayout(printerButtons, 4, 0, 1, 2);

    auto* copies = new QHBoxLayout;
    copies->addWidget(new QLabel(tr("Copies:"), this));
    copies->addWidget(m_copies);
    copies->addWidget(m_collate);
    auto* tasks = new QHBoxLayout;
    tasks->addWidget(new QLabel(tr("Print"), this));
    tasks->addWidget(m_perTask);
    tasks->addWidget(new QLabel(tr("pages each printing task"), this));

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(m_beforeReport, QDialogButtonBox::ActionRole);
    buttons->addButton(m_print, QDialogButtonBox::AcceptRole);
    buttons->addButton(QDialogButtonBox::Cancel)->setText(tr("&Cancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &PrintSetupDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PrintSetupDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(range);
    layout->addWidget(printer);
    layout->addLayout(copies);
    layout->addLayout(tasks);
    layout->addWidget(buttons);

    // OnInitDialog.
    m_from->setText(QString::number(setup.from()));
    m_to->setText(QString::number(setup.to()));
    m_all->setText(text(setup.allPagesText()));
    m_all->setChecked(true);
    m_perTask->setValue(setup.pagesPerTask());
    m_copies->setValue(1);
    m_collate->setEnabled(false);
    showFields(printers);

    connect(m_copies, &QSpinBox::valueChanged, this, [this](int copies) {
        if (m_initialised) {
            m_collate->setEnabled(PrintSetup::CollateEnabled(copies));
        }
    });
    connect(m_from, &QLineEdit::textEdited, this, [this] { pageFieldChanged(m_from); });
    connect(m_to, &QLineEdit::textEdited, this, [this] { pageFieldChanged(m_to); });
    connect(m_pageSetup, &QPushButton::clicked, this, [this] {
        if (m_pageSetupCommand) {
            m_pageSetupCommand();
        }
    });
    connect(m_printSetting, &QPushButton::clicked, this, [this] {
        if (m_printSettingCommand) {
            std::vector<std::string> list;
            m_printSettingCommand(m_setup,
                                  m_printers->currentIndex() >= 0
                                      ? m_printers->currentText().toStdString()
                                      : std::string(),
                                  list);
            showFields(list);
        }
    });
    connect(m_beforeReport, &QPushButton::clicked, this, [this] {
        if (m_openPage) {
            m_openPage(m_setup.BeforeReportValuePage(m_printers->currentText().toStdString(),
                                                     m_helpAddress));
        }
    });
    m_initialised = true;
}

void PrintSetupDialog::showFields(const std::vector<std::string>& printers) {
    m_printer->setText(text(m_setup.printer()));
    m_paper->setText(text(m_setup.paper()));
    m_orientation->setText(text(m_setup.orientationText()));
    if (printers.empty()) {
        return;
    }
    m_printers->clear();
    for (const std::string& name : printers) {
        m_printers->addItem(text(name));
    }
    m_printers->setCurrentIndex(m_setup.printerIndex(printers));
}

void PrintSetupDialog::setPageSetupCommand(std::function<void()> command) {
    m_pageSetupCommand = std::move(command);
    m_pageSetup->setEnabled(static_cast<bool>(m_pageSetupCommand));
}

void PrintSetupDialog::setPrintSettingCommand(PrintSettingCommand command) {
    m_printSettingCommand = std::move(command);
    m_printSetting->setEnabled(static_cast<bool>(m_printSettingCommand));
}

void PrintSetupDialog::setBeforeReportValue(std::string helpAddress,
                                            std::function<void(const std::string&)> open) {
    m_helpAddress = std::move(helpAddress);
    m_openPage = std::move(open);
    m_beforeReport->setEnabled(static_cast<bool>(m_openPage));
}

void PrintSetupDialog::pageFieldChanged(QLineEdit* field) {
    m_pages->setChecked(true);
    if (!m_setup.PageTextValid(field->text().toStdString())) {
        field->selectAll();
    }
}

void PrintSetupDialog::accept() {
    PrintSetup::Choice choice;
    choice.range = m_all->isChecked()     ? PrintSetup::Range::All
                   : m_pages->isChecked() ? PrintSetup::Range::Pages
                                          : PrintSetup::Range::Given;
    choice.fromText = m_from->text().toStdString();
    choice.toText = m_to->text().toStdString();
    choice.pagesPerTask = m_perTask->value();
    choice.copies = m_copies->value();
    choice.collate = m_collate->isChecked();
    choice.printer =
        m_printers->currentIndex() >= 0 ? m_printers->currentText().toStdString() : std::string();
    switch (m_onOk(choice)) {
        case PrintSetup::OkResult::Stay:
            return;
        case PrintSetup::OkResult::FocusFrom:
            m_from->setFocus();
            m_from->selectAll();
            return;
        case PrintSetup::OkResult::FocusTo:
            m_to->setFocus();
            m_to->selectAll();
            return;
        case PrintSetup::OkResult::Close:
        case PrintSetup::OkResult::Print:
            QDialog::accept();
            return;
    }
}

void QtPrintDialogs::RunPrintQueue(CPrintDlg& queue) {
    CPrintDlgWindow window(queue, m_parent);
    // A queue whose range the report refused shows that state with Close.
    queue.OnInitDialog(window);
    if (onQueueDialog) {
        onQueueDialog(window);
    }
    window.exec();
}

void QtPrintDialogs::RunPrintSetup(
    PrintSetup& setup, const std::vector<std::string>& printers, std::int32_t,
    const std::function<PrintSetup::OkResult(const PrintSetup::Choice&)>& onOk) {
    PrintSetupDialog dialog(setup, printers, onOk, m_parent);
    if (pageSetupCommand) {
        dialog.setPageSetupCommand(pageSetupCommand);
    }
    if (printSettingCommand) {
        dialog.setPrintSettingCommand(printSettingCommand);
    }
    UiServices* ui = this->ui;
    dialog.setBeforeReportValue(helpAddress, [ui](const std::string& page) {
        // A private folder: other users can neither read the page nor plant a link there.
        const std::string folder = privateTempFolder();
        std::string error = "no private temporary folder";
        if (!folder.empty()) {
            const std::string path = folder + "/paginor-before-report-value.htm";
            ReplacingFile file(path);
            if (file.create() && file.write(page) && file.commit()) {
                if (openWithDefaultProgram(path, error)) {
                    return;
                }
            } else {
                error = file.error();
            }
        }
        if (ui != nullptr) {
            ui->messageBox(error, MessageButtons::Ok, MessageIcon::Stop);
        }
    });
    if (onSetupDialog) {
        onSetupDialog(dialog);
    }
    dialog.exec();
}

}  // namespace paginor
