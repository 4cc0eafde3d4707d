#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace paginor {

enum class SettingsHive { CurrentUser, LocalMachine };

// Read access to the registry-shaped settings. Key paths look like "Software\\Orrin.Tadd\\Tabulan";
// key paths and value names compare case-insensitively (ASCII).
class SettingsReader {
public:
    virtual ~SettingsReader() = default;

    // A string (REG_SZ) value; nullopt when the key, the value or the store is missing, or when
    // the value has another type.
    virtual std::optional<std::string> readString(SettingsHive hive, std::string_view keyPath,
                                                  std::string_view valueName) const = 0;
};

// The production reader: the settings store over the configuration folder.
const SettingsReader& defaultSettingsReader();

}  // namespace paginor
