#include "app/qt/qt_ui_services.h"

#include <QApplication>
#include <QMessageBox>

namespace paginor {

MessageAnswer QtUiServices::messageBox(const std::string& text, MessageButtons buttons,
                                       MessageIcon icon) {
    return messageBoxTitled("Paginor", text, buttons, icon);
}

MessageAnswer QtUiServices::messageBoxTitled(const std::string& title, const std::string& text,
                                             MessageButtons buttons, MessageIcon icon) {
    // A box raised while a dialog runs belongs over that dialog, else over the main window, so
    // that it never opens behind either.
    QWidget* opener = QApplication::activeModalWidget();
    QMessageBox box(opener != nullptr ? opener : m_window.data());
    box.setWindowTitle(QString::fromStdString(title));
    // Report texts are in the report's code page; undecodable bytes must not hide the message.
    box.setText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
    switch (icon) {
        case MessageIcon::Stop:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Exclamation:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::None:
            break;
    }
    if (buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MessageAnswer::Yes : MessageAnswer::No;
    }
    if (buttons == MessageButtons::YesNoCancel) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::No);
        switch (box.exec()) {
            case QMessageBox::Yes:
                return MessageAnswer::Yes;
            case QMessageBox::No:
                return MessageAnswer::No;
            default:
                return MessageAnswer::Cancel;
        }
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageAnswer::Ok;
}

void QtUiServices::setWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QApplication::restoreOverrideCursor();
    }
}

}  // namespace paginor
