#include "mail/send_flow.h"

#include "platform/settings_table.h"
#include "mail/smtp_client.h"

namespace paginor {
namespace {

// Cuts text to at most bytes without splitting a UTF-8 sequence.
std::string cutUtf8(const std::string& text, std::size_t bytes) {
    if (text.size() <= bytes) {
        return text;
    }
    std::size_t end = bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    return text.substr(0, end);
}

}  // namespace

std::optional<Delivery> prepareSend(const SettingsStore& store, MailUi& ui,
                                    const SendRequest& request, const Clock& clock) {
    Delivery delivery;
    std::string missing;
    if (!GetEmailAccountSettings(store, delivery.account, missing)) {
        ui.showMessage(kNoAccountMessage, MailIcon::Information);
        ui.runAccountDialog();
        return std::nullopt;
    }
    delivery.message = std::make_unique<CMIMEMessage>(clock);
    CMIMEMessage& message = *delivery.message;
    message.setFrom(delivery.account.address);
    message.setSubject(request.subject);
    message.setBody(request.bodyText);
    std::string badEntry;
    // Sending to the entries before a broken one and reporting success would hide the others.
    if (!message.AddRecipientList(request.recipients, To, &badEntry)) {
        ui.showMessage("Invalid Email Address: " + badEntry, MailIcon::Error);
        return std::nullopt;
    }
    if (!request.attachmentPath.empty()) {
        message.AddPart(request.attachmentPath, AppOctetStream, "", 4, true);
    }
    return delivery;
}

DeliveryResult deliver(Delivery& delivery, TcpConnector* connector) {
    CSMTP client(delivery.account.server, delivery.port, connector);
    DeliveryResult result;
    if (client.Connect(delivery.account.userName, delivery.account.password,
                       delivery.account.requiresAuthentication)) {
        result.sent = client.Send(*delivery.message);
        result.errorText = client.GetErrorText();
        client.Disconnect();
    } else {
        result.errorText = client.GetErrorText();
    }
    return result;
}

std::string sendFailureMessage(const EmailAccount& account, const std::string& errorText) {
    const std::string head = "Failed to send the mail. \r\nError Message: ";
    std::string tail = ".\r\n\r\n\r\nAccount Settings:\r\nSMTP Server: " + account.server + "\r\n";
    if (account.requiresAuthentication) {
        tail += "User name: " + account.userName + "\r\n";
    }
    std::string error = errorText;
    const std::string ellipsis = "...";
    std::size_t fixed = head.size() + tail.size();
    if (fixed + error.size() > kMaxSendFailureBytes) {
        std::size_t room = kMaxSendFailureBytes > fixed + ellipsis.size()
                               ? kMaxSendFailureBytes - fixed - ellipsis.size()
                               : 0;
        error = cutUtf8(error, room) + ellipsis;
    }
    return cutUtf8(head + error + tail, kMaxSendFailureBytes);
}

bool runSendSequence(const SettingsStore& store, MailUi& ui, const SendRequest& request,
                     const Clock& clock, TcpConnector* connector, int port) {
    std::optional<Delivery> delivery = prepareSend(store, ui, request, clock);
    if (!delivery) {
        return false;
    }
    delivery->port = port;
    DeliveryResult result = deliver(*delivery, connector);
    if (!result.sent) {
        ui.showMessage(sendFailureMessage(delivery->account, result.errorText),
                       MailIcon::Information);
    }
    return result.sent;
}

SendDialogFields sendDialogStart(const SettingsStore& store, const std::string& attachmentPath) {
    SendDialogFields fields;
    if (!attachmentPath.empty()) {
        fields.attachEnabled = true;
        fields.attach = true;
        fields.subject = "Oracle report";
        fields.comment = "Comment:\r\n";
    }
    fields.recipients = readStringSetting(store, kLastRecipientsValue).value_or("");
    return fields;
}

std::optional<std::string> checkRecipients(const std::string& recipients) {
    if (recipients.empty()) {
        return "Please enter the email address of the recipients";
    }
    if (recipients.find('@') == std::string::npos) {
        return "Invalid Email Address, the character '@' not found";
    }
    return std::nullopt;
}

SendRequest sendDialogRequest(const SendDialogFields& fields, const std::string& attachmentPath,
                              const Clock& clock) {
    SendRequest request;
    request.subject = fields.subject.empty() ? "A mail sent by Paginor" : fields.subject;
    request.bodyText = fields.comment + formatMailFooter(clock.localNow());
    request.recipients = fields.recipients;
    if (fields.attach) {
        request.attachmentPath = attachmentPath;
    }
    return request;
}

std::string sendDialogSucceeded(SettingsStore& store, const std::string& recipients) {
    std::string error;
    writeStringSetting(store, kLastRecipientsValue, recipients, error);
    return "The email has been sent to " + recipients;
}

}  // namespace paginor
