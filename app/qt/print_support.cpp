#include "app/qt/print_support.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>
#include <charconv>

#include "app/foliant_view.h"
#include "app/qt/report_browser.h"
#include "platform/program_thread.h"

namespace paginor {

QtBackgroundRunner::~QtBackgroundRunner() {
    m_pool.waitForDone();
}

void QtBackgroundRunner::run(std::function<void()> work, std::function<void()> done) {
    m_pool.start(WithFaultReport([this, work = std::move(work), done = std::move(done)]() mutable {
        work();
        QMetaObject::invokeMethod(this, std::move(done), Qt::QueuedConnection);
    }));
}

WindowPrintUi::WindowPrintUi(QMainWindow* window) : m_window(window) {
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (auto expired = std::move(m_expired)) {
            m_expired = nullptr;
            expired();
        }
    });
}

std::string WindowPrintUi::printWindowTitle() const {
    return m_window->windowTitle().toStdString();
}

void WindowPrintUi::setPrintWindowTitle(const std::string& title) {
    m_window->setWindowTitle(QString::fromStdString(title));
}

void WindowPrintUi::startPrintTimer(int milliseconds, std::function<void()> expired) {
    m_expired = std::move(expired);
    m_timer.start(milliseconds);
}

void WindowPrintUi::stopPrintTimer() {
    m_timer.stop();
    m_expired = nullptr;
}

bool WindowPrintUi::showPageSetupDialog(CWebBrowserPrint& driver, MarginTexts& margins) {
    std::vector<PrinterMedia> media;
    std::string error;
    if (!driver.CurrentMedia(media, error))
        return false;
    PrintSettingDialog dialog(driver.printer(), media, driver.paper(), driver.orientation(),
                              margins, m_window);
    if (dialog.exec() != QDialog::Accepted)
        return true;
    std::string printerOut, paperOut, list;
    int orientation = dialog.orientation();
    bool printerSet, paperSet, dialogNeeded;
    driver.PrintSetup(dialog.paper(), "", printerOut, paperOut, orientation, printerSet, paperSet,
                      dialogNeeded, list);
    margins = dialog.margins();
    return true;
}

PrintSettingDialog::PrintSettingDialog(const std::string& printer,
                                       const std::vector<PrinterMedia>& media,
                                       const std::string& paper, int orientation,
                                       const MarginTexts& margins, QWidget* parent)
    : QDialog(parent),
      m_media(media),
      m_paper(new QComboBox(this)),
      m_portrait(new QRadioButton(tr("Portrait"), this)),
      m_landscape(new QRadioButton(tr("Landscape"), this)) {
    setWindowTitle(tr("Print Setting"));
    // By the names the print options and the report's directives use.
    for (const PrinterMedia& m : m_media)
        m_paper->addItem(QString::fromStdString(MediaShortName(m)));
    m_paper->setCurrentIndex(std::max(FindMedia(m_media, paper), 0));
    (orientation == 1 ? m_landscape : m_portrait)->setChecked(true);
    const std::string* texts[4] = {&margins.left, &margins.right, &margins.top, &margins.bottom};
    for (int i = 0; i < 4; ++i) {
        m_margins[i] = new QDoubleSpinBox(this);
        m_margins[i]->setRange(0, kMaxMarginInches);
        m_margins[i]->setDecimals(2);
        m_margins[i]->setSingleStep(0.1);
        m_margins[i]->setValue(ParseInches(*texts[i]));
    }

    auto* printerName = new QLabel(QString::fromStdString(printer), this);
    auto* paperForm = new QFormLayout;
    paperForm->addRow(tr("Printer:"), printerName);
    paperForm->addRow(tr("Paper size:"), m_paper);
    auto* turn = new QGroupBox(tr("Orientation"), this);
    auto* turnLayout = new QVBoxLayout(turn);
    turnLayout->addWidget(m_portrait);
    turnLayout->addWidget(m_landscape);
    auto* marginGroup = new QGroupBox(tr("Margins (inches)"), this);
    auto* marginForm = new QFormLayout(marginGroup);
    marginForm->addRow(tr("Left:"), m_margins[0]);
    marginForm->addRow(tr("Right:"), m_margins[1]);
    marginForm->addRow(tr("Top:"), m_margins[2]);
    marginForm->addRow(tr("Bottom:"), m_margins[3]);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(paperForm);
    layout->addWidget(turn);
    layout->addWidget(marginGroup);
    layout->addWidget(buttons);
}

std::string PrintSettingDialog::paper() const {
    const int index = m_paper->currentIndex();
    return index >= 0 && index < static_cast<int>(m_media.size())
               ? MediaShortName(m_media[static_cast<std::size_t>(index)])
               : std::string();
}

int PrintSettingDialog::orientation() const {
    return m_landscape->isChecked() ? 1 : 0;
}

MarginTexts PrintSettingDialog::margins() const {
    // Written with '.' whatever the user's locale: the print reads them so.
    const auto text = [](const QDoubleSpinBox* box) {
        char digits[32];
        const auto end =
            std::to_chars(digits, digits + sizeof digits, box->value(), std::chars_format::fixed, 2)
                .ptr;
        std::string value(digits, end);
        value.erase(value.find_last_not_of('0') + 1);
        if (!value.empty() && value.back() == '.')
            value.pop_back();
        return value;
    };
    return {text(m_margins[0]), text(m_margins[1]), text(m_margins[2]), text(m_margins[3])};
}

ViewPrinting::ViewPrinting(QMainWindow* window, ReportBrowser* browser, CFoliantView& view)
    : m_driver(m_printers, m_runner), m_ui(window), m_view(view) {
    m_driver.SetBrowser(browser);
    view.SetPrinting(&m_driver, &m_ui);
    QObject::connect(browser, &ReportBrowser::documentComplete, &m_ui,
                     [this](const QUrl& url, bool ok) {
                         m_view.OnDocumentComplete(url.toString().toStdString(), ok);
                     });
    QObject::connect(browser, &ReportBrowser::renderProcessGone, &m_ui,
                     [this] { m_view.OnRenderProcessGone(); });
}

ViewPrinting::~ViewPrinting() {
    // Work still running uses the driver and the printers: let it end first.
    m_runner.waitForDone();
    m_view.SetPrinting(nullptr, nullptr);
}

}  // namespace paginor
