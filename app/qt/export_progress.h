#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <functional>

namespace paginor {

// The window of a running export, "Converting the report ...": the share done and Cancel. It
// stays until the work has ended, whatever is pressed: Cancel, Escape and closing the window
// only ask the work to stop. It is not modal in Qt's sense: Qt drops the window system's close
// of a window that a modal one blocks, so the parent is disabled instead while it is up.
class ExportProgressWindow : public QDialog {
public:
    ExportProgressWindow(std::function<void()> cancel, QWidget* parent);

    // A percentage of the work; 0 once it was under way: the file is being saved.
    void setProgress(int percent);
    // What Cancel does; closing the main window does it too.
    void requestCancel();

    QPushButton* cancelButton() const { return m_cancelButton; }

protected:
    void reject() override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::function<void()> m_cancel;
    QLabel* m_label;
    QProgressBar* m_bar;
    QPushButton* m_cancelButton;
};

}  // namespace paginor
