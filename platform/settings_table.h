#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/settings_store.h"

namespace paginor {

struct SettingKey {
    SettingsHive hive;
    const char* path;
};

// One value of the settings: its key, name, type, default and, for texts, the most bytes a
// reader takes (terminating NUL included); a longer text counts as missing.
struct SettingValue {
    const SettingKey& key;
    const char* name;
    SettingsType type;
    std::uint32_t defaultNumber;
    std::size_t maxBytes;
};

inline constexpr SettingKey kPaginorKey{SettingsHive::CurrentUser, "Software\\Orrin.Tadd\\Paginor"};
inline constexpr SettingKey kPageSetupKey{SettingsHive::CurrentUser,
                                          "Software\\Orrin.Tadd\\Paginor\\PageSetup"};

inline constexpr SettingValue kLeftBarWidthValue{kPaginorKey, "leftbarwidth", SettingsType::Dword,
                                                 60, 0};
inline constexpr SettingValue kHeaderValue{kPageSetupKey, "header", SettingsType::String, 0, 240};
inline constexpr SettingValue kFooterValue{kPageSetupKey, "footer", SettingsType::String, 0, 240};
inline constexpr SettingValue kMarginBottomValue{kPageSetupKey, "margin_bottom",
                                                 SettingsType::String, 0, 20};
inline constexpr SettingValue kMarginLeftValue{kPageSetupKey, "margin_left", SettingsType::String,
                                               0, 20};
inline constexpr SettingValue kMarginRightValue{kPageSetupKey, "margin_right", SettingsType::String,
                                                0, 20};
inline constexpr SettingValue kMarginTopValue{kPageSetupKey, "margin_top", SettingsType::String, 0,
                                              20};
inline constexpr SettingValue kEmailAddressValue{kPaginorKey, "emailaddr", SettingsType::String, 0,
                                                 260};
inline constexpr SettingValue kSmtpServerValue{kPaginorKey, "smtpsvr", SettingsType::String, 0,
                                               260};
inline constexpr SettingValue kRequiresAuthenticationValue{kPaginorKey, "reqauthen",
                                                           SettingsType::Dword, 0, 0};
inline constexpr SettingValue kUserNameValue{kPaginorKey, "username", SettingsType::String, 0, 260};
inline constexpr SettingValue kPasswordValue{kPaginorKey, "password", SettingsType::String, 0, 260};
inline constexpr SettingValue kLastRecipientsValue{kPaginorKey, "lastrecipients",
                                                   SettingsType::String, 0, 260};
// The export dialog's stored defaults.
inline constexpr SettingValue kStyleValue{kPaginorKey, "style", SettingsType::String, 0, 260};

// Start-up and installation.
inline constexpr SettingKey kMachinePaginorKey{SettingsHive::LocalMachine,
                                               "Software\\Orrin.Tadd\\Paginor"};
inline constexpr SettingValue kVersionValue{kPaginorKey, "version", SettingsType::String, 0, 20};
inline constexpr SettingValue kLastUpdateCheckValue{kPaginorKey, "e", SettingsType::Dword, 0, 0};
inline constexpr SettingValue kExePathValue{kPaginorKey, "exe_path", SettingsType::String, 0, 260};
inline constexpr SettingValue kReleaseDateValue{kPaginorKey, "release_date", SettingsType::String,
                                                0, 20};
inline constexpr SettingValue kKeywordsValue{kPaginorKey, "keywords", SettingsType::String, 0, 200};
inline constexpr SettingValue kKeywords2Value{kPaginorKey, "keywords2", SettingsType::String, 0,
                                              200};
inline constexpr SettingValue kKeywords3Value{kPaginorKey, "keywords3", SettingsType::String, 0,
                                              200};
inline constexpr SettingValue kKeywords4Value{kPaginorKey, "keywords4", SettingsType::String, 0,
                                              200};
inline constexpr SettingValue kUpdateUrlValue{kPaginorKey, "update_url", SettingsType::String, 0,
                                              260};
// Bit 0: check automatically (1 when missing); bit 1: tell the user first (0 when missing).
inline constexpr SettingValue kUpdateFlagValue{kPaginorKey, "update_flag", SettingsType::Dword, 1,
                                               0};
inline constexpr SettingValue kPrintDirectlyValue{kPaginorKey, "print_directly",
                                                  SettingsType::Dword, 0, 0};
// Notices shown for files that are not reports, per type.
inline constexpr SettingValue kOpenFlagTxtValue{kPaginorKey, "openflagtxt", SettingsType::Dword, 0,
                                                0};
inline constexpr SettingValue kOpenFlagDocValue{kPaginorKey, "openflagdoc", SettingsType::Dword, 0,
                                                0};
inline constexpr SettingValue kOpenFlagPdfValue{kPaginorKey, "openflagpdf", SettingsType::Dword, 0,
                                                0};
inline constexpr SettingValue kOpenFlagValue{kPaginorKey, "openflag", SettingsType::Dword, 0, 0};

inline bool keyExists(const SettingsStore& store, const SettingKey& key) {
    return store.keyExists(key.hive, key.path);
}

inline std::optional<std::string> readStringSetting(const SettingsStore& store,
                                                    const SettingValue& value) {
    return store.readString(value.key.hive, value.key.path, value.name, value.maxBytes);
}

inline std::optional<std::uint32_t> readDwordSetting(const SettingsStore& store,
                                                     const SettingValue& value) {
    return store.readDword(value.key.hive, value.key.path, value.name);
}

inline bool writeDwordSetting(SettingsStore& store, const SettingValue& value,
                              std::uint32_t number) {
    std::string error;
    return store.setDword(value.key.hive, value.key.path, value.name, number, error);
}

inline bool writeStringSetting(SettingsStore& store, const SettingValue& value,
                               std::string_view text, std::string& error) {
    return store.setString(value.key.hive, value.key.path, value.name, text, error);
}

inline bool writeDwordSetting(SettingsStore& store, const SettingValue& value, std::uint32_t number,
                              std::string& error) {
    return store.setDword(value.key.hive, value.key.path, value.name, number, error);
}

}  // namespace paginor
