#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <string>
#include <vector>

#include "app/print/print_environment.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace paginor {

class UiServices;

// The print-task dialog (130): the task list, the status line, Pause and Cancel, the delay
// choice, and the 500 ms timer that drives the queue.
class CPrintDlgWindow : public QDialog, public PrintDlgView {
    Q_OBJECT
public:
    static constexpr int kTickMs = 500;

    CPrintDlgWindow(CPrintDlg& queue, QWidget* parent);

    void setTitle(const std::string& title) override;
    void setStatus(const std::string& text) override;
    void appendTasks(const std::vector<std::string>& commands) override;
    void removeFirstTask() override;
    void setPauseButton(const std::string& text, bool enabled) override;
    void setCancelButton(const std::string& text, bool enabled) override;
    void setNoDelayChecked(bool noDelay) override;
    void startTimer() override;
    void endDialog() override;

    QListWidget* taskList() const { return m_tasks; }
    QLineEdit* statusLine() const { return m_status; }
    QPushButton* pauseButton() const { return m_pause; }
    QPushButton* cancelButton() const { return m_cancel; }
    QRadioButton* noDelayButton() const { return m_noDelay; }
    QRadioButton* delayButton() const { return m_delay; }

public slots:
    // Escape and the window's close button are Cancel.
    void reject() override;

private:
    CPrintDlg& m_queue;
    QListWidget* m_tasks;
    QLineEdit* m_status;
    QPushButton* m_pause;
    QPushButton* m_cancel;
    QRadioButton* m_noDelay;
    QRadioButton* m_delay;
    QTimer m_timer;
    bool m_ending = false;
};

// "Print &Setting ...": sets up the printer chosen in the list, then shows what it chose.
using PrintSettingCommand = std::function<void(PrintSetup&, const std::string& printer,
                                               std::vector<std::string>& printers)>;

// The print options dialog (135).
class PrintSetupDialog : public QDialog {
    Q_OBJECT
public:
    using OkHandler = std::function<PrintSetup::OkResult(const PrintSetup::Choice&)>;

    PrintSetupDialog(PrintSetup& setup, const std::vector<std::string>& printers, OkHandler onOk,
                     QWidget* parent);

    // "Page Setup ..." and "Print &Setting ..." (given the printer chosen in the list); without
    // them the buttons are disabled.
    void setPageSetupCommand(std::function<void()> command);
    void setPrintSettingCommand(PrintSettingCommand command);
    // Where "Before Report Value.." writes its page and how it opens it.
    void setBeforeReportValue(std::string helpAddress,
                              std::function<void(const std::string& page)> open);

    QRadioButton* allPagesButton() const { return m_all; }
    QRadioButton* pagesButton() const { return m_pages; }
    QLineEdit* fromEdit() const { return m_from; }
    QLineEdit* toEdit() const { return m_to; }
    QSpinBox* pagesPerTaskBox() const { return m_perTask; }
    QSpinBox* copiesBox() const { return m_copies; }
    QCheckBox* collateBox() const { return m_collate; }
    QComboBox* printerBox() const { return m_printers; }
    QLineEdit* printerEdit() const { return m_printer; }
    QLineEdit* paperEdit() const { return m_paper; }
    QLineEdit* orientationEdit() const { return m_orientation; }
    QPushButton* printButton() const { return m_print; }
    QPushButton* printSettingButton() const { return m_printSetting; }

public slots:
    void accept() override;

private:
    void showFields(const std::vector<std::string>& printers);
    void pageFieldChanged(QLineEdit* field);

    PrintSetup& m_setup;
    OkHandler m_onOk;
    std::function<void()> m_pageSetupCommand;
    PrintSettingCommand m_printSettingCommand;
    std::string m_helpAddress;
    std::function<void(const std::string&)> m_openPage;
    QRadioButton* m_all;
    QRadioButton* m_pages;
    QLineEdit* m_from;
    QLineEdit* m_to;
    QSpinBox* m_perTask;
    QSpinBox* m_copies;
    QCheckBox* m_collate;
    QComboBox* m_printers;
    QLineEdit* m_printer;
    QLineEdit* m_paper;
    QLineEdit* m_orientation;
    QPushButton* m_pageSetup;
    QPushButton* m_printSetting;
    QPushButton* m_beforeReport;
    QPushButton* m_print;
    bool m_initialised = false;
};

// Runs both dialogs modally over the main window.
class QtPrintDialogs : public PrintDialogs {
public:
    explicit QtPrintDialogs(QWidget* parent) : m_parent(parent) {}
    void RunPrintQueue(CPrintDlg& queue) override;
    void RunPrintSetup(
        PrintSetup& setup, const std::vector<std::string>& printers, std::int32_t pageHeight,
        const std::function<PrintSetup::OkResult(const PrintSetup::Choice&)>& onOk) override;

    // Called with each dialog once it is built, before it runs (tests drive it from here).
    std::function<void(CPrintDlgWindow&)> onQueueDialog;
    std::function<void(PrintSetupDialog&)> onSetupDialog;
    std::function<void()> pageSetupCommand;
    PrintSettingCommand printSettingCommand;
    std::string helpAddress = "https://example.com/paginor/help.htm";
    UiServices* ui = nullptr;

private:
    QPointer<QWidget> m_parent;
};

}  // namespace paginor
