#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace paginor {

// The one mail account, as stored in the settings; the password in plain text.
struct EmailAccount {
    std::string server;
    std::string address;
    bool requiresAuthentication = false;
    std::string userName;
    std::string password;
};

// True when the account is complete enough to send; false with the first missing piece in
// message ("Email Address not found", ...). A store that cannot be read counts as empty.
bool GetEmailAccountSettings(const SettingsStore& store, EmailAccount& account,
                             std::string& message);

// A keyless rotation of every byte, as the settings keep the password; neither makes a NUL.
void ScramblePassword(std::string& text);
void UnscramblePassword(std::string& text);

enum class AccountField { Address, Server, UserName, Password };

struct AccountProblem {
    std::string message;
    AccountField field;
};

// The most bytes a stored text may hold: the readers take 260 with the terminating NUL.
constexpr std::size_t kMaxAccountTextBytes = 259;

// What the account dialog shows first: the stored account, or example values without one.
EmailAccount accountDialogStart(const SettingsStore& store);
// The dialog's checks in their order; nullopt when the fields may be saved.
std::optional<AccountProblem> checkAccountFields(const EmailAccount& fields);
// Writes the account; an empty user name or password keeps the stored one. False with a message
// when the settings cannot be written.
bool saveAccount(SettingsStore& store, const EmailAccount& fields, std::string& error);

}  // namespace paginor
