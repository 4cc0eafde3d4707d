#include "app/qt/export_progress.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace paginor {

ExportProgressWindow::ExportProgressWindow(std::function<void()> cancel, QWidget* parent)
    : QDialog(parent), m_cancel(std::move(cancel)) {
    setWindowTitle(QStringLiteral("Paginor"));
    m_label = new QLabel(tr("Converting the report ..."), this);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 100);
    m_bar->setValue(0);
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_cancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_label);
    layout->addWidget(m_bar);
    layout->addLayout(buttons);
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { requestCancel(); });
}

void ExportProgressWindow::setProgress(int percent) {
    if (percent > 0) {
        m_bar->setValue(percent);
        return;
    }
    if (m_bar->value() > 0 && m_cancelButton->isEnabled()) {
        m_label->setText(tr("Saving the file ..."));
    }
}

void ExportProgressWindow::reject() {
    requestCancel();
}

void ExportProgressWindow::closeEvent(QCloseEvent* event) {
    event->ignore();
    requestCancel();
}

void ExportProgressWindow::requestCancel() {
    if (!m_cancelButton->isEnabled()) {
        return;
    }
    m_cancelButton->setEnabled(false);
    m_label->setText(tr("Cancelling ..."));
    if (m_cancel) {
        m_cancel();
    }
}

}  // namespace paginor
