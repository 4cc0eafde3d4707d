#pragma once

#include <memory>
#include <optional>
#include <string>

#include "mail/account.h"
#include "mail/mail_clock.h"
#include "mail/mime_message.h"
#include "platform/settings_store.h"
#include "platform/tcp_socket.h"

namespace paginor {

enum class MailIcon { None, Information, Error };

// What a send asks of the desktop; a recording fake stands in for it in tests.
class MailUi {
public:
    virtual ~MailUi() = default;
    virtual void showMessage(const std::string& text, MailIcon icon) = 0;
    // Runs the account dialog modally; true when it was closed with "Save".
    virtual bool runAccountDialog() = 0;
};

constexpr int kSmtpPort = 25;
// The longest failure message the user is shown.
constexpr std::size_t kMaxSendFailureBytes = 519;
// The longest recipients text the send dialog takes.
constexpr std::size_t kMaxRecipientsChars = 255;

inline constexpr const char* kNoAccountMessage =
    "You have not setup the email account that is used to send mail, Please setup now.";

struct SendRequest {
    std::string subject;
    std::string bodyText;
    std::string recipients;
    std::string attachmentPath;  // empty: no attachment
};

// A composed-to-be mail with the account that sends it; the network part of a send.
struct Delivery {
    EmailAccount account;
    std::unique_ptr<CMIMEMessage> message;
    int port = kSmtpPort;
};

struct DeliveryResult {
    bool sent = false;
    std::string errorText;  // the failing step's reason
};

// On the user-interface thread, before any network step: without a complete account the account
// message and the account dialog, and nothing to send; a recipients text that cannot be parsed
// gets "Invalid Email Address: <entry>" (error icon), and nothing to send.
std::optional<Delivery> prepareSend(const SettingsStore& store, MailUi& ui,
                                    const SendRequest& request, const Clock& clock = systemClock());

// Connect, send and disconnect; blocks, so a window runs it off its own thread. The error text
// is the one of the failing step, not that of the closing QUIT.
DeliveryResult deliver(Delivery& delivery, TcpConnector* connector = nullptr);

// "Failed to send the mail. ..." with the server and, with authentication, the user name; the
// error text is shortened with "..." to keep it within kMaxSendFailureBytes.
std::string sendFailureMessage(const EmailAccount& account, const std::string& errorText);

// The whole sequence on the calling thread; shows the failure message. True when sent.
bool runSendSequence(const SettingsStore& store, MailUi& ui, const SendRequest& request,
                     const Clock& clock = systemClock(), TcpConnector* connector = nullptr,
                     int port = kSmtpPort);

// The send dialog's logic, apart from its widgets.
struct SendDialogFields {
    bool attachEnabled = false;
    bool attach = false;
    std::string subject;
    std::string comment;
    std::string recipients;
};

SendDialogFields sendDialogStart(const SettingsStore& store, const std::string& attachmentPath);
// The message for recipients that cannot be sent to, or nullopt.
std::optional<std::string> checkRecipients(const std::string& recipients);
// The request that "Send" makes of the fields: the default subject and the footer added.
SendRequest sendDialogRequest(const SendDialogFields& fields, const std::string& attachmentPath,
                              const Clock& clock = systemClock());
// After a successful send: remembers the recipients and answers "The email has been sent to %s".
std::string sendDialogSucceeded(SettingsStore& store, const std::string& recipients);

}  // namespace paginor
