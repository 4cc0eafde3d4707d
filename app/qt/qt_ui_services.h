#pragma once

#include <QPointer>
#include <QWidget>

#include "app/ui_services.h"

namespace paginor {

// Message boxes captioned "Paginor" over the dialog that is running, else over the main window,
// and the wait cursor.
class QtUiServices : public UiServices {
public:
    void setParentWindow(QWidget* window) { m_window = window; }
    MessageAnswer messageBox(const std::string& text, MessageButtons buttons,
                             MessageIcon icon) override;
    void setWaitCursor(bool on) override;
    MessageAnswer messageBoxTitled(const std::string& title, const std::string& text,
                                   MessageButtons buttons, MessageIcon icon) override;

private:
    QPointer<QWidget> m_window;
};

}  // namespace paginor
