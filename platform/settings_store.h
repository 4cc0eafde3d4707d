#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_reader.h"

namespace paginor {

// The registry's type numbers; any other number is kept with its bytes.
enum class SettingsType : std::uint32_t { String = 1, Binary = 3, Dword = 4 };

// data holds the value's bytes: for String the text without a terminating NUL, for Dword four
// bytes, least significant first.
struct SettingsValue {
    SettingsType type = SettingsType::String;
    std::string data;

    bool operator==(const SettingsValue&) const = default;
};

struct SettingsNamedValue {
    std::string name;  // empty: the key's default value
    SettingsValue value;

    bool operator==(const SettingsNamedValue&) const = default;
};

struct SettingsKeyContents {
    std::vector<SettingsNamedValue> values;  // in the order first written
    std::vector<std::string> subkeys;        // sorted, ignoring case
};

// The registry's own limits; names hold printable ASCII only.
constexpr std::size_t kMaxSettingsKeyNameBytes = 255;
constexpr std::size_t kMaxSettingsValueNameBytes = 16383;
// A hive file is read and written whole; a larger one is refused.
constexpr std::size_t kMaxSettingsFileBytes = 4 * 1024 * 1024;

// The keys and values of one hive; defined where the stores are implemented.
class SettingsTree;

// Registry-shaped settings. A key path is a backslash-separated list of key names below the
// hive's root ("Software\\Orrin.Tadd\\Paginor"; empty: the root itself). Key paths and value
// names compare ASCII case-insensitively and keep the spelling first written.
//
// Reads never fail: a missing hive, key or value, a value of another type, an invalid path and a
// hive that cannot be read all answer "missing"; hiveProblem() tells about the last. Writes
// return false with a message; LocalMachine is read-only.
class SettingsStore : public SettingsReader {
public:
    bool keyExists(SettingsHive hive, std::string_view keyPath) const;
    // nullopt when the key is missing.
    std::optional<SettingsKeyContents> enumerate(SettingsHive hive, std::string_view keyPath) const;
    std::optional<SettingsValue> readValue(SettingsHive hive, std::string_view keyPath,
                                           std::string_view valueName) const;
    std::optional<std::string> readString(SettingsHive hive, std::string_view keyPath,
                                          std::string_view valueName) const override;
    // A value that does not fit maxBytes together with its terminating NUL counts as missing.
    std::optional<std::string> readString(SettingsHive hive, std::string_view keyPath,
                                          std::string_view valueName, std::size_t maxBytes) const;
    std::optional<std::uint32_t> readDword(SettingsHive hive, std::string_view keyPath,
                                           std::string_view valueName) const;
    std::optional<std::string> readBinary(SettingsHive hive, std::string_view keyPath,
                                          std::string_view valueName) const;
    // Why the hive cannot be read ("<file>: line 7: ..."); empty when it can, or is missing.
    std::string hiveProblem(SettingsHive hive) const;

    // Creates the key and its missing parents; created tells whether the key was new.
    bool createKey(SettingsHive hive, std::string_view keyPath, bool& created, std::string& error);
    // Setting a value creates its key when missing.
    bool setValue(SettingsHive hive, std::string_view keyPath, std::string_view valueName,
                  const SettingsValue& value, std::string& error);
    bool setString(SettingsHive hive, std::string_view keyPath, std::string_view valueName,
                   std::string_view text, std::string& error);
    bool setDword(SettingsHive hive, std::string_view keyPath, std::string_view valueName,
                  std::uint32_t number, std::string& error);
    bool setBinary(SettingsHive hive, std::string_view keyPath, std::string_view valueName,
                   std::string_view bytes, std::string& error);
    // Deleting what is missing succeeds. deleteKey refuses a key that has subkeys.
    bool deleteValue(SettingsHive hive, std::string_view keyPath, std::string_view valueName,
                     std::string& error);
    bool deleteKey(SettingsHive hive, std::string_view keyPath, std::string& error);
    bool deleteTree(SettingsHive hive, std::string_view keyPath, std::string& error);

protected:
    using Reading = std::function<void(const SettingsTree& tree)>;
    // Returns false with error to abandon the change; sets the tree's dirty flag when it changed.
    using Change = std::function<bool(SettingsTree& tree, std::string& error)>;

    // Runs read over the hive as it is now (a missing hive is empty); false with problem when
    // the hive cannot be read, and read is not run.
    virtual bool withHive(SettingsHive hive, const Reading& read, std::string& problem) const = 0;
    // Applies change to the hive as it is now and keeps the result as one atomic step.
    virtual bool updateHive(SettingsHive hive, const Change& change, std::string& error) = 0;

private:
    bool removeKey(SettingsHive hive, std::string_view keyPath, bool withSubkeys,
                   std::string& error);
};

// One REGEDIT4 text file per hive in a folder: "HKEY_CURRENT_USER.reg" (mode 0600, folder 0700)
// and "HKEY_LOCAL_MACHINE.reg" (read only, normally absent). Every call reads the file afresh
// under a shared flock on "<file>.lock"; every write holds the exclusive flock while it re-reads
// the file, applies the change, writes a temporary file in the folder, fsyncs and renames it.
// So processes and threads may write at once without losing each other's values. A file that
// cannot be parsed is never rewritten.
//
// File format (LF line ends; CRLF, a UTF-8 BOM, blank lines and ';' comments are read too):
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Orrin.Tadd\Paginor]
//   @="default value"
//   "version"="1.4.9"                    printable ASCII text; \\ and \" are the only escapes
//   "password"=hex(1):41,0d,0a,e9,00     text with other bytes, with a terminating NUL
//   "e"=dword:0134778d
//   "EditFlags"=hex:00,01,00,00          long byte lists go on with ",\" and an indented line
//   "other"=hex(7):61,00,00              any other type by number (hex), bytes kept as they are
// Every key has its section, so empty keys survive; values in a key keep their order.
class FileSettingsStore final : public SettingsStore {
public:
    // An empty folder means the configuration folder ($XDG_CONFIG_HOME/paginor) at each call.
    explicit FileSettingsStore(std::string folder = {});

protected:
    bool withHive(SettingsHive hive, const Reading& read, std::string& problem) const override;
    bool updateHive(SettingsHive hive, const Change& change, std::string& error) override;

private:
    std::string m_folder;
};

// In memory, for tests of the modules that use settings; safe to use from several threads.
class MemorySettingsStore final : public SettingsStore {
public:
    MemorySettingsStore();
    ~MemorySettingsStore() override;

    // Replaces a hive (either one) by the keys of a file's text; false with "line N: ..." when
    // it cannot be parsed, leaving the hive as it was.
    bool load(SettingsHive hive, std::string_view text, std::string& error);
    // The hive as FileSettingsStore writes its file.
    std::string text(SettingsHive hive) const;
    // Not empty: every later write fails with this message.
    void failWrites(std::string message);

protected:
    bool withHive(SettingsHive hive, const Reading& read, std::string& problem) const override;
    bool updateHive(SettingsHive hive, const Change& change, std::string& error) override;

private:
    SettingsTree& tree(SettingsHive hive) const;

    mutable std::mutex m_mutex;
    std::unique_ptr<SettingsTree> m_currentUser;
    std::unique_ptr<SettingsTree> m_localMachine;
    std::string m_writeError;
};

}  // namespace paginor
