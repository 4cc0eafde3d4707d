#pragma once

#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <memory>

#include "app/print/print_services.h"
#include "app/print/web_browser_print.h"
#include "platform/printer_system.h"

class QMainWindow;

namespace paginor {

class CFoliantView;
class ReportBrowser;

// Runs print work on a pool thread and its completion on the thread that owns this object.
class QtBackgroundRunner : public QObject, public BackgroundRunner {
    Q_OBJECT
public:
    using QObject::QObject;
    // Waits for running work: its completion must not outlive this object.
    ~QtBackgroundRunner() override;
    // Waits until no work runs; completions not yet delivered are dropped with this object.
    void waitForDone() { m_pool.waitForDone(); }
    void run(std::function<void()> work, std::function<void()> done) override;

private:
    QThreadPool m_pool;
};

// The window side of the view's printing: the title, the print time-out and the page-setup
// dialog for the current printer.
class WindowPrintUi : public QObject, public PrintUi {
    Q_OBJECT
public:
    explicit WindowPrintUi(QMainWindow* window);

    std::string printWindowTitle() const override;
    void setPrintWindowTitle(const std::string& title) override;
    void startPrintTimer(int milliseconds, std::function<void()> expired) override;
    void stopPrintTimer() override;
    bool showPageSetupDialog(CWebBrowserPrint& driver) override;

private:
    QMainWindow* m_window;
    QTimer m_timer;
    std::function<void()> m_expired;
};

// Everything the report view prints with, tied to the window's browser and view: CUPS, the
// print driver, the worker and the window's print services.
class ViewPrinting {
public:
    ViewPrinting(QMainWindow* window, ReportBrowser* browser, CFoliantView& view);
    ~ViewPrinting();

    CWebBrowserPrint& driver() { return m_driver; }

private:
    CupsPrinterSystem m_printers;
    QtBackgroundRunner m_runner;
    CWebBrowserPrint m_driver;
    WindowPrintUi m_ui;
    CFoliantView& m_view;
};

}  // namespace paginor
