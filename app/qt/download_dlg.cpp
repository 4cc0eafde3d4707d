#include "app/qt/download_dlg.h"

#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace paginor {

DownloadDlg::DownloadDlg(QWidget* parent) : QDialog(parent) {
    setModal(true);
    setWindowTitle(tr("Downloading file"));
    auto* layout = new QVBoxLayout(this);
    m_label = new QLabel(tr("Please wait ..."), this);
    layout->addWidget(m_label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &DownloadDlg::reject);
    layout->addWidget(buttons);
}

DownloadDlg::~DownloadDlg() {
    if (m_state != nullptr) {
        m_state->detachDialog();
    }
}

void DownloadDlg::SetDownloadInfo(DownloadState* state, DownloadMode mode) {
    m_state = state;
    m_mode = mode;
    if (mode == DownloadMode::Initialise) {
        setWindowTitle(QStringLiteral("Initialing ..."));
    }
}

int DownloadDlg::exec() {
    if (m_state != nullptr) {
        const bool alreadyDone = m_state->attachDialog([this] {
            // Runs on the worker under the state's lock; the dialog outlives the link.
            QMetaObject::invokeMethod(
                this, [this] { closeFromWorker(); }, Qt::QueuedConnection);
        });
        if (alreadyDone) {
            QTimer::singleShot(0, this, [this] { closeFromWorker(); });
        }
    }
    return QDialog::exec();
}

void DownloadDlg::closeFromWorker() {
    if (m_closedByWorker) {
        return;
    }
    m_closedByWorker = true;
    if (m_state != nullptr) {
        m_state->detachDialog();
    }
    QDialog::done(QDialog::Accepted);
}

void DownloadDlg::reject() {
    if (m_state == nullptr || m_closedByWorker) {
        QDialog::reject();
        return;
    }
    if (m_mode == DownloadMode::Download) {
        m_state->detachDialog();
        if (!m_state->closeRequested()) {
            m_state->finished = true;
            m_state->cancelRequested = true;
        }
        QDialog::reject();
        return;
    }
    if (m_state->succeeded.load()) {
        QDialog::reject();
        return;
    }
    // The load goes on until it returns, but stops its downloads of linked files; the worker
    // then closes the dialog.
    m_state->cancelRequested = true;
}

void DownloadDlg::closeEvent(QCloseEvent* event) {
    event->ignore();
    reject();
}

}  // namespace paginor
