#pragma once

#include <QDialog>

#include "app/download_state.h"

class QLabel;

namespace paginor {

// The modal progress dialog of downloads and loads. The worker reaches it only through
// DownloadState's close link, which posts a queued call to the dialog; a worker that finished
// before exec() still closes it at once.
class DownloadDlg : public QDialog {
    Q_OBJECT
public:
    explicit DownloadDlg(QWidget* parent = nullptr);
    ~DownloadDlg() override;

    void SetDownloadInfo(DownloadState* state, DownloadMode mode);
    int exec() override;
    // True once the worker has asked the dialog to close (Cancel is then taken no more).
    bool closedByWorker() const { return m_closedByWorker; }

public slots:
    // OnCancel: the Cancel button, Escape and the window's close button.
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void closeFromWorker();

    DownloadState* m_state = nullptr;
    DownloadMode m_mode = DownloadMode::Download;
    QLabel* m_label = nullptr;
    bool m_closedByWorker = false;
};

}  // namespace paginor
