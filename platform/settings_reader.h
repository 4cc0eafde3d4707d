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

// Reads one REGEDIT4 text file per hive ("HKEY_CURRENT_USER.reg", "HKEY_LOCAL_MACHINE.reg") from a
// folder; the file is read afresh on every call, and a missing or unreadable file has no values.
class FileSettingsReader : public SettingsReader {
public:
    // An empty folder means the configuration folder ($XDG_CONFIG_HOME/paginor) at read time.
    explicit FileSettingsReader(std::string folder = {});

    std::optional<std::string> readString(SettingsHive hive, std::string_view keyPath,
                                          std::string_view valueName) const override;

private:
    std::string m_folder;
};

// The production reader over the configuration folder.
const SettingsReader& defaultSettingsReader();

}  // namespace paginor
