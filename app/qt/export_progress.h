#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <functional>

namespace paginor {

// The window of a running export, "Converting the report ...": the share done and Cancel. It
// stays until the work has ended, whatever is pressed: Cancel, Escape and closing the window
// only ask the work to stop.
class ExportProgressWindow : public QDialog {
public:
    ExportProgressWindow(std::function<void()> cancel, QWidget* parent);

    // A percentage of the work; 0 once it was under way: the file is being saved.
    void setProgress(int percent);

    QPushButton* cancelButton() const { return m_cancelButton; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    void requestCancel();

    std::function<void()> m_cancel;
    QLabel* m_label;
    QProgressBar* m_bar;
    QPushButton* m_cancelButton;
};

}  // namespace paginor
