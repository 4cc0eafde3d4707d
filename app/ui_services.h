#pragma once

#include <string>

namespace paginor {

enum class MessageButtons { Ok, YesNo };
enum class MessageIcon { None, Stop, Exclamation, Question, Information };
enum class MessageAnswer { Ok, Yes, No };

// What the shell's logic asks of the desktop: message boxes with the application's title and the
// wait cursor. A recording fake stands in for it in tests.
class UiServices {
public:
    virtual ~UiServices() = default;
    virtual MessageAnswer messageBox(const std::string& text,
                                     MessageButtons buttons = MessageButtons::Ok,
                                     MessageIcon icon = MessageIcon::None) = 0;
    virtual void setWaitCursor(bool on) = 0;
    // A box with its own caption instead of the application's title.
    virtual void messageBoxTitled(const std::string& title, const std::string& text,
                                  MessageIcon icon) {
        (void)title;
        messageBox(text, MessageButtons::Ok, icon);
    }
};

// Shows the wait cursor for its lifetime.
class WaitCursor {
public:
    explicit WaitCursor(UiServices& ui) : m_ui(ui) { m_ui.setWaitCursor(true); }
    ~WaitCursor() { m_ui.setWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    UiServices& m_ui;
};

}  // namespace paginor
