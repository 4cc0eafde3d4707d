#include "mail/account.h"

#include "platform/settings_table.h"

namespace paginor {

bool GetEmailAccountSettings(const SettingsStore& store, EmailAccount& account,
                             std::string& message) {
    account = EmailAccount{};
    std::optional<std::string> address = readStringSetting(store, kEmailAddressValue);
    if (!address || address->empty()) {
        message = "Email Address not found";
        return false;
    }
    account.address = *address;
    std::optional<std::string> server = readStringSetting(store, kSmtpServerValue);
    if (!server) {
        message = "SMTP server not found";
        return false;
    }
    if (server->empty()) {
        message = "Outgoing SMTP server not found";
        return false;
    }
    account.server = *server;
    account.userName = readStringSetting(store, kUserNameValue).value_or("");
    account.password = readStringSetting(store, kPasswordValue).value_or("");
    UnscramblePassword(account.password);
    std::optional<std::uint32_t> authenticate =
        readDwordSetting(store, kRequiresAuthenticationValue);
    account.requiresAuthentication = authenticate.value_or(0) != 0;
    if (!account.requiresAuthentication) {
        return true;
    }
    if (account.userName.empty()) {
        message = "User name not found";
        return false;
    }
    if (account.password.empty()) {
        message = "Password not found";
        return false;
    }
    return true;
}

void ScramblePassword(std::string& text) {
    for (char& c : text) {
        unsigned value = static_cast<unsigned char>(c);
        if (value == 0) {
            continue;
        }
        value = value < 70    ? (value + 30) % 69 + 1
                : value < 120 ? (value - 47) % 50 + 70
                              : (value - 97) % 136 + 120;
        c = static_cast<char>(value);
    }
}

void UnscramblePassword(std::string& text) {
    for (char& c : text) {
        unsigned value = static_cast<unsigned char>(c);
        if (value == 0) {
            continue;
        }
        value = value < 70    ? (value + 37) % 69 + 1
                : value < 120 ? (value - 43) % 50 + 70
                              : (value - 7) % 136 + 120;
        c = static_cast<char>(value);
    }
}

EmailAccount accountDialogStart(const SettingsStore& store) {
    EmailAccount account;
    std::string message;
    if (!GetEmailAccountSettings(store, account, message)) {
        account = EmailAccount{};
        account.address = "someone@example.com";
        account.server = "smtp.example.com";
    }
    return account;
}

std::optional<AccountProblem> checkAccountFields(const EmailAccount& fields) {
    const std::string& address = fields.address;
    std::size_t at = address.find('@');
    if (address.empty()) {
        return AccountProblem{"Please enter the email address", AccountField::Address};
    }
    if (at == std::string::npos || at == 0) {
        return AccountProblem{"The email address is invalid, character '@' or prefix not found",
                              AccountField::Address};
    }
    if (at + 1 == address.size()) {
        return AccountProblem{"The email address is invalid, suffix not found",
                              AccountField::Address};
    }
    if (fields.server.empty()) {
        return AccountProblem{"Please enter the location of the outgoing SMTP server",
                              AccountField::Server};
    }
    if (fields.requiresAuthentication && fields.userName.empty()) {
        return AccountProblem{"Please enter the user name", AccountField::UserName};
    }
    if (fields.requiresAuthentication && fields.password.empty()) {
        return AccountProblem{"Please enter the password", AccountField::Password};
    }
    // A longer text would be stored but then read as missing.
    const std::string limit =
        " is too long: at most " + std::to_string(kMaxAccountTextBytes) + " bytes";
    const std::pair<const std::string*, AccountField> texts[] = {
        {&fields.address, AccountField::Address},
        {&fields.server, AccountField::Server},
        {&fields.userName, AccountField::UserName},
        {&fields.password, AccountField::Password},
    };
    const char* names[] = {"The email address", "The outgoing SMTP server", "The user name",
                           "The password"};
    for (std::size_t i = 0; i < std::size(texts); ++i) {
        if (texts[i].first->size() > kMaxAccountTextBytes) {
            return AccountProblem{names[i] + limit, texts[i].second};
        }
    }
    return std::nullopt;
}

bool saveAccount(SettingsStore& store, const EmailAccount& fields, std::string& error) {
    std::string scrambled = fields.password;
    ScramblePassword(scrambled);
    bool saved = writeStringSetting(store, kEmailAddressValue, fields.address, error) &&
                 writeStringSetting(store, kSmtpServerValue, fields.server, error) &&
                 writeDwordSetting(store, kRequiresAuthenticationValue,
                                   fields.requiresAuthentication ? 1 : 0, error) &&
                 (fields.userName.empty() ||
                  writeStringSetting(store, kUserNameValue, fields.userName, error)) &&
                 (scrambled.empty() || writeStringSetting(store, kPasswordValue, scrambled, error));
    if (!saved) {
        error = "Unable to save the e-mail account settings: " + error;
    }
    return saved;
}

}  // namespace paginor
