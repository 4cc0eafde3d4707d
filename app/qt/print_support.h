#pragma once

#include <QDialog>
#include <QObject>
#include <QThreadPool>
#include <QTimer>
#include <memory>

#include "app/print/print_services.h"
#include "app/print/web_browser_print.h"
#include "platform/printer_system.h"

class QComboBox;
class QDoubleSpinBox;
class QMainWindow;
class QRadioButton;

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
    bool showPageSetupDialog(CWebBrowserPrint& driver, MarginTexts& margins) override;

private:
    QMainWindow* m_window;
    QTimer m_timer;
    std::function<void()> m_expired;
};

// "Print Setting ...": the paper, orientation and margins of a print on the driver's current
// printer, each of them used by the print.
class PrintSettingDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr double kMaxMarginInches = 10;

    PrintSettingDialog(const std::string& printer, const std::vector<PrinterMedia>& media,
                       const std::string& paper, int orientation, const MarginTexts& margins,
                       QWidget* parent);

    // The chosen paper's short name ("A4"), orientation (0 portrait, 1 landscape) and margins.
    std::string paper() const;
    int orientation() const;
    MarginTexts margins() const;

    QComboBox* paperBox() const { return m_paper; }
    QRadioButton* landscapeButton() const { return m_landscape; }
    QDoubleSpinBox* marginBox(int index) const { return m_margins[index]; }  // left, right, ...

private:
    std::vector<PrinterMedia> m_media;
    QComboBox* m_paper;
    QRadioButton* m_portrait;
    QRadioButton* m_landscape;
    QDoubleSpinBox* m_margins[4];
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
