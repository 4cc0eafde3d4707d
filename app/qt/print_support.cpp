#include "app/qt/print_support.h"

#include <QMainWindow>
#include <QPageSetupDialog>
#include <QPointer>
#include <QPrinter>
#include <cmath>

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

bool WindowPrintUi::showPageSetupDialog(CWebBrowserPrint& driver) {
    std::vector<PrinterMedia> media;
    std::string error;
    if (!driver.CurrentMedia(media, error))
        return false;
    QPrinter printer;
    printer.setPrinterName(QString::fromStdString(driver.printer()));
    const int current = FindMedia(media, driver.paper());
    if (current >= 0) {
        const PrinterMedia& m = media[static_cast<std::size_t>(current)];
        printer.setPageSize(QPageSize(QSizeF(m.width / 100.0, m.length / 100.0),
                                      QPageSize::Millimeter,
                                      QString::fromStdString(MediaShortName(m))));
    }
    printer.setPageOrientation(driver.orientation() == 1 ? QPageLayout::Landscape
                                                         : QPageLayout::Portrait);
    QPageSetupDialog dialog(&printer, m_window);
    if (dialog.exec() != QDialog::Accepted)
        return true;
    // The chosen paper is the printer's paper of the same size.
    const QSizeF chosen = printer.pageLayout().pageSize().size(QPageSize::Millimeter);
    std::string paper;
    for (const PrinterMedia& m : media) {
        if (std::abs(m.width / 100.0 - chosen.width()) < 1 &&
            std::abs(m.length / 100.0 - chosen.height()) < 1)
            paper = MediaShortName(m);
    }
    std::string printerOut, paperOut, list;
    int orientation = printer.pageLayout().orientation() == QPageLayout::Landscape ? 1 : 0;
    bool printerSet, paperSet, dialogNeeded;
    driver.PrintSetup(paper, "", printerOut, paperOut, orientation, printerSet, paperSet,
                      dialogNeeded, list);
    return true;
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
