#include "platform/settings_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

#include "platform/folders.h"
#include "platform/replacing_file.h"
#include "platform/sys_error.h"

namespace paginor {

class SettingsTree {
public:
    struct Key {
        std::string name;  // the spelling first written
        std::vector<SettingsNamedValue> values;
        std::vector<Key> subkeys;  // sorted by name, ignoring case
    };

    Key root;
    bool dirty = false;
};

namespace {

using Key = SettingsTree::Key;
using KeyNames = std::vector<std::string_view>;

constexpr std::string_view kHeader = "REGEDIT4";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t kLineWidth = 80;
constexpr std::string_view kContinuationIndent = "  ";
constexpr char kHexDigits[] = "0123456789abcdef";

char fold(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return fold(x) == fold(y); });
}

bool nameLess(std::string_view a, std::string_view b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(fold(x)) < static_cast<unsigned char>(fold(y));
    });
}

bool isPrintable(char c) {
    return c >= 0x20 && c <= 0x7e;
}

bool allPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), isPrintable);
}

std::string_view hiveRoot(SettingsHive hive) {
    return hive == SettingsHive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string hiveFileName(SettingsHive hive) {
    return std::string(hiveRoot(hive)) + ".reg";
}

std::string fullKeyName(SettingsHive hive, std::string_view keyPath) {
    std::string name(hiveRoot(hive));
    if (!keyPath.empty()) {
        name += '\\';
        name += keyPath;
    }
    return name;
}

// Caller input quoted for a message, other bytes than printable ASCII as \xHH.
std::string quotedForMessage(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (isPrintable(c)) {
            out += c;
        } else {
            auto byte = static_cast<unsigned char>(c);
            out += "\\x";
            out += kHexDigits[byte >> 4];
            out += kHexDigits[byte & 0xF];
        }
    }
    return out + "\"";
}

bool checkName(std::string_view name, std::size_t maxBytes, const char* what, std::string& error) {
    if (name.size() > maxBytes) {
        error = std::string(what) + " is longer than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    if (!allPrintable(name)) {
        error = std::string(what) + " holds a byte that is not printable ASCII";
        return false;
    }
    return true;
}

// Splits a key path into its key names; the empty path is the hive's root.
bool splitKeyPath(std::string_view path, KeyNames& names, std::string& error) {
    names.clear();
    if (path.empty()) {
        return true;
    }
    for (std::size_t start = 0;;) {
        std::size_t end = std::min(path.find('\\', start), path.size());
        std::string_view name = path.substr(start, end - start);
        if (name.empty()) {
            error = "a key name is empty";
            return false;
        }
        if (!checkName(name, kMaxSettingsKeyNameBytes, "a key name", error)) {
            return false;
        }
        names.push_back(name);
        if (end == path.size()) {
            return true;
        }
        start = end + 1;
    }
}

bool checkKeyPath(std::string_view path, KeyNames& names, std::string& error) {
    if (splitKeyPath(path, names, error)) {
        return true;
    }
    error = "invalid key path " + quotedForMessage(path) + ": " + error;
    return false;
}

bool checkValueName(std::string_view name, std::string& error) {
    if (checkName(name, kMaxSettingsValueNameBytes, "the name", error)) {
        return true;
    }
    error = "invalid value name " + quotedForMessage(name) + ": " + error;
    return false;
}

template <class K>
auto subkeyPosition(K& key, std::string_view name) {
    return std::lower_bound(key.subkeys.begin(), key.subkeys.end(), name,
                            [](const Key& k, std::string_view n) { return nameLess(k.name, n); });
}

// K is Key or const Key.
template <class K>
K* findKey(K& root, const KeyNames& names) {
    K* key = &root;
    for (std::string_view name : names) {
        auto it = subkeyPosition(*key, name);
        if (it == key->subkeys.end() || !sameName(it->name, name)) {
            return nullptr;
        }
        key = &*it;
    }
    return key;
}

template <class K>
auto findValue(K& key, std::string_view name) {
    return std::find_if(key.values.begin(), key.values.end(),
                        [name](const SettingsNamedValue& v) { return sameName(v.name, name); });
}

Key& createKeyPath(SettingsTree& tree, const KeyNames& names, bool& created) {
    created = false;
    Key* key = &tree.root;
    for (std::string_view name : names) {
        auto it = subkeyPosition(*key, name);
        if (it == key->subkeys.end() || !sameName(it->name, name)) {
            it = key->subkeys.insert(it, Key{std::string(name), {}, {}});
            created = true;
            tree.dirty = true;
        }
        key = &*it;
    }
    return *key;
}

void putValue(SettingsTree& tree, Key& key, std::string_view name, const SettingsValue& value) {
    auto it = findValue(key, name);
    if (it == key.values.end()) {
        key.values.push_back({std::string(name), value});
        tree.dirty = true;
    } else if (it->value != value) {
        it->value = value;
        tree.dirty = true;
    }
}

std::string dwordBytes(std::uint32_t number) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>((number >> (8 * i)) & 0xFF);
    }
    return bytes;
}

std::uint32_t dwordNumber(std::string_view bytes) {
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        number |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    }
    return number;
}

// ---- parsing ----

std::string_view trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

class LineSource {
public:
    explicit LineSource(std::string_view text) : m_text(text) {}

    // The next line without its line end and surrounding blanks; false at the end.
    bool next(std::string_view& line) {
        if (m_pos >= m_text.size()) {
            return false;
        }
        std::size_t end = std::min(m_text.find('\n', m_pos), m_text.size());
        line = m_text.substr(m_pos, end - m_pos);
        if (m_number == 0 && line.starts_with(kByteOrderMark)) {
            line.remove_prefix(kByteOrderMark.size());
        }
        line = trimmed(line);
        m_pos = end + 1;
        ++m_number;
        return true;
    }
    std::size_t number() const { return m_number; }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
    std::size_t m_number = 0;
};

// A quoted text starting at text[pos] == '"'; pos ends after the closing quote. Only \\ and \"
// are escapes; any other backslash stays as written.
bool parseQuoted(std::string_view text, std::size_t& pos, std::string& out) {
    out.clear();
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) {
            c = text[++pos];
        }
        out += c;
    }
    return false;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = fold(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool parseHexNumber(std::string_view digits, std::uint32_t& number) {
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    number = 0;
    for (char c : digits) {
        int digit = hexDigit(c);
        if (digit < 0) {
            return false;
        }
        number = number << 4 | static_cast<std::uint32_t>(digit);
    }
    return true;
}

// Two-digit hex bytes separated by commas; empty is no bytes.
bool parseByteList(std::string_view list, std::string& bytes) {
    bytes.clear();
    for (std::size_t pos = 0; pos < list.size(); pos += 3) {
        if (pos + 2 > list.size()) {
            return false;
        }
        int high = hexDigit(list[pos]);
        int low = hexDigit(list[pos + 1]);
        bool last = pos + 2 == list.size();
        if (high < 0 || low < 0 || (!last && (list[pos + 2] != ',' || pos + 3 == list.size()))) {
            return false;
        }
        bytes += static_cast<char>(high << 4 | low);
    }
    return true;
}

// The data after "name="; a byte list continued with a trailing backslash takes further lines.
bool parseData(std::string_view data, LineSource& lines, SettingsValue& value,
               std::string& problem) {
    if (data.starts_with('"')) {
        std::size_t pos = 0;
        if (!parseQuoted(data, pos, value.data)) {
            problem = "the text has no closing quote";
            return false;
        }
        if (pos != data.size()) {
            problem = "unexpected text after the closing quote";
            return false;
        }
        value.type = SettingsType::String;
        return true;
    }
    if (data.starts_with("dword:")) {
        std::uint32_t number = 0;
        if (!parseHexNumber(data.substr(6), number)) {
            problem = "dword: needs one to eight hex digits";
            return false;
        }
        value = {SettingsType::Dword, dwordBytes(number)};
        return true;
    }
    if (data.starts_with("hex")) {
        std::uint32_t type = static_cast<std::uint32_t>(SettingsType::Binary);
        std::string_view rest = data.substr(3);
        if (rest.starts_with('(')) {
            std::size_t close = rest.find(')');
            if (close == std::string_view::npos ||
                !parseHexNumber(rest.substr(1, close - 1), type)) {
                rest = {};
            } else {
                rest.remove_prefix(close + 1);
            }
        }
        if (!rest.starts_with(':')) {
            problem = "the type must read hex: or hex(N): with N in hex";
            return false;
        }
        std::string list(rest.substr(1));
        while (list.ends_with('\\')) {
            list.pop_back();
            list.erase(list.find_last_not_of(" \t") + 1);
            std::string_view more;
            if (!lines.next(more)) {
                problem = "the byte list goes on past the end of the file";
                return false;
            }
            list += more;
        }
        if (!parseByteList(list, value.data)) {
            problem = "the bytes must be two hex digits each, separated by commas";
            return false;
        }
        value.type = static_cast<SettingsType>(type);
        if (value.type == SettingsType::String && value.data.ends_with('\0')) {
            value.data.pop_back();
        }
        return true;
    }
    if (data.starts_with('-')) {
        problem = "value deletions are not supported";
        return false;
    }
    problem = "the data must be a quoted text, dword:, hex: or hex(N):";
    return false;
}

bool parseKeyLine(std::string_view line, SettingsHive hive, SettingsTree& tree, Key*& current,
                  std::string& problem) {
    if (!line.ends_with(']')) {
        problem = "a key line must end with ']'";
        return false;
    }
    std::string_view path = line.substr(1, line.size() - 2);
    if (path.starts_with('-')) {
        problem = "key deletions are not supported";
        return false;
    }
    std::string_view root = hiveRoot(hive);
    if (!sameName(path.substr(0, root.size()), root) ||
        (path.size() > root.size() && path[root.size()] != '\\')) {
        problem = "the key is not under " + std::string(root);
        return false;
    }
    KeyNames names;
    if (path.size() > root.size()) {
        if (!splitKeyPath(path.substr(root.size() + 1), names, problem)) {
            problem = "invalid key path: " + problem;
            return false;
        }
        if (names.empty()) {
            problem = "invalid key path: a key name is empty";
            return false;
        }
    }
    bool created = false;
    current = &createKeyPath(tree, names, created);
    return true;
}

bool parseValueLine(std::string_view line, LineSource& lines, SettingsTree& tree, Key* current,
                    std::string& problem) {
    if (current == nullptr) {
        problem = "a value comes before any key";
        return false;
    }
    std::string name;  // empty for '@', the default value
    std::size_t pos = 1;
    if (line.front() == '"') {
        pos = 0;
        if (!parseQuoted(line, pos, name)) {
            problem = "the value name has no closing quote";
            return false;
        }
    }
    if (pos >= line.size() || line[pos] != '=') {
        problem = "'=' must follow the value name";
        return false;
    }
    if (!checkName(name, kMaxSettingsValueNameBytes, "the value name", problem)) {
        return false;
    }
    SettingsValue value;
    if (!parseData(line.substr(pos + 1), lines, value, problem)) {
        return false;
    }
    putValue(tree, *current, name, value);  // a later line replaces an earlier one
    return true;
}

bool parseHive(std::string_view text, SettingsHive hive, SettingsTree& tree, std::string& error) {
    LineSource lines(text);
    bool headerSeen = false;
    Key* current = nullptr;
    std::string_view line;
    while (lines.next(line)) {
        if (line.empty() || line.starts_with(';')) {
            continue;
        }
        std::size_t number = lines.number();
        std::string problem;
        bool ok = true;
        if (!headerSeen) {
            headerSeen = line == kHeader;
            ok = headerSeen;
            problem = "the file does not start with " + std::string(kHeader);
        } else if (line.starts_with('[')) {
            ok = parseKeyLine(line, hive, tree, current, problem);
        } else if (line.starts_with('"') || line.starts_with('@')) {
            ok = parseValueLine(line, lines, tree, current, problem);
        } else {
            ok = false;
            problem = "a line must be a [key], a \"value\"=, @= or a ; comment";
        }
        if (!ok) {
            error = "line " + std::to_string(number) + ": " + problem;
            return false;
        }
    }
    tree.dirty = false;
    return true;
}

// ---- writing ----

void appendQuoted(std::string& out, std::string_view text) {
    out += '"';
    for (char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
        }
        out += c;
    }
    out += '"';
}

// line holds the start of the value's first line; long lists go on with ",\" and an indent.
void appendByteList(std::string& out, std::string line, std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (line.size() + 4 > kLineWidth) {  // room for "xx," and the backslash
            out += line + "\\\n";
            line = kContinuationIndent;
        }
        auto byte = static_cast<unsigned char>(bytes[i]);
        line += kHexDigits[byte >> 4];
        line += kHexDigits[byte & 0xF];
        if (i + 1 < bytes.size()) {
            line += ',';
        }
    }
    out += line + "\n";
}

std::string hexNumber(std::uint32_t number, std::size_t minDigits) {
    std::string digits;
    do {
        digits.insert(digits.begin(), kHexDigits[number & 0xF]);
        number >>= 4;
    } while (number != 0);
    return std::string(minDigits > digits.size() ? minDigits - digits.size() : 0, '0') + digits;
}

void appendValue(std::string& out, const SettingsNamedValue& named) {
    std::string line;
    if (named.name.empty()) {
        line = "@";
    } else {
        appendQuoted(line, named.name);
    }
    line += '=';
    const SettingsValue& value = named.value;
    if (value.type == SettingsType::String && allPrintable(value.data)) {
        appendQuoted(line, value.data);
        out += line + "\n";
    } else if (value.type == SettingsType::String) {
        appendByteList(out, line + "hex(1):", value.data + '\0');
    } else if (value.type == SettingsType::Dword && value.data.size() == 4) {
        out += line + "dword:" + hexNumber(dwordNumber(value.data), 8) + "\n";
    } else if (value.type == SettingsType::Binary) {
        appendByteList(out, line + "hex:", value.data);
    } else {
        std::string type = hexNumber(static_cast<std::uint32_t>(value.type), 1);
        appendByteList(out, line + "hex(" + type + "):", value.data);
    }
}

void appendKey(std::string& out, const Key& key, const std::string& path) {
    out += "\n[" + path + "]\n";
    for (const SettingsNamedValue& value : key.values) {
        appendValue(out, value);
    }
    for (const Key& subkey : key.subkeys) {
        appendKey(out, subkey, path + "\\" + subkey.name);
    }
}

std::string hiveText(const SettingsTree& tree, SettingsHive hive) {
    std::string out = std::string(kHeader) + "\n";
    std::string root(hiveRoot(hive));
    if (!tree.root.values.empty()) {
        out += "\n[" + root + "]\n";
        for (const SettingsNamedValue& value : tree.root.values) {
            appendValue(out, value);
        }
    }
    for (const Key& key : tree.root.subkeys) {
        appendKey(out, key, root + "\\" + key.name);
    }
    return out;
}

// ---- files ----

class Descriptor {
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

std::string fileError(const std::string& path, int errorNumber) {
    return path + ": " + systemErrorText(errorNumber);
}

// Closing the lock file's descriptor releases the lock.
bool lockFile(const Descriptor& file, int operation) {
    while (::flock(file.get(), operation) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

// A missing file is an empty hive.
bool readHiveFile(const std::string& path, SettingsHive hive, SettingsTree& tree,
                  std::string& error) {
    Descriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT) {
            return true;
        }
        error = fileError(path, errno);
        return false;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        error = fileError(path, errno);
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
        return false;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(file.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = fileError(path, errno);
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxSettingsFileBytes) {
            error = path + ": larger than " + std::to_string(kMaxSettingsFileBytes) + " bytes";
            return false;
        }
    }
    std::string problem;
    if (!parseHive(text, hive, tree, problem)) {
        error = path + ": " + problem;
        return false;
    }
    return true;
}

// The file appears whole under its name or not at all; it holds the mail password, so it is the
// user's alone.
bool replaceFile(const std::string& path, std::string_view text, std::string& error) {
    ReplacingFile file(path, FileMode::Private);
    if (!file.create() || !file.write(text) || !file.commit()) {
        error = file.error();
        return false;
    }
    return true;
}

}  // namespace

// ---- SettingsStore ----

bool SettingsStore::keyExists(SettingsHive hive, std::string_view keyPath) const {
    KeyNames names;
    std::string problem;
    bool found = false;
    if (splitKeyPath(keyPath, names, problem)) {
        withHive(
            hive, [&](const SettingsTree& tree) { found = findKey(tree.root, names) != nullptr; },
            problem);
    }
    return found;
}

std::optional<SettingsKeyContents> SettingsStore::enumerate(SettingsHive hive,
                                                            std::string_view keyPath) const {
    KeyNames names;
    std::string problem;
    std::optional<SettingsKeyContents> contents;
    if (splitKeyPath(keyPath, names, problem)) {
        withHive(
            hive,
            [&](const SettingsTree& tree) {
                if (const Key* key = findKey(tree.root, names)) {
                    contents.emplace();
                    contents->values = key->values;
                    for (const Key& subkey : key->subkeys) {
                        contents->subkeys.push_back(subkey.name);
                    }
                }
            },
            problem);
    }
    return contents;
}

std::optional<SettingsValue> SettingsStore::readValue(SettingsHive hive, std::string_view keyPath,
                                                      std::string_view valueName) const {
    KeyNames names;
    std::string problem;
    std::optional<SettingsValue> value;
    if (splitKeyPath(keyPath, names, problem)) {
        withHive(
            hive,
            [&](const SettingsTree& tree) {
                if (const Key* key = findKey(tree.root, names)) {
                    auto it = findValue(*key, valueName);
                    if (it != key->values.end()) {
                        value = it->value;
                    }
                }
            },
            problem);
    }
    return value;
}

std::optional<std::string> SettingsStore::readString(SettingsHive hive, std::string_view keyPath,
                                                     std::string_view valueName) const {
    std::optional<SettingsValue> value = readValue(hive, keyPath, valueName);
    if (!value || value->type != SettingsType::String) {
        return std::nullopt;
    }
    return std::move(value->data);
}

std::optional<std::string> SettingsStore::readString(SettingsHive hive, std::string_view keyPath,
                                                     std::string_view valueName,
                                                     std::size_t maxBytes) const {
    std::optional<std::string> text = readString(hive, keyPath, valueName);
    if (text && text->size() >= maxBytes) {
        return std::nullopt;
    }
    return text;
}

std::optional<std::uint32_t> SettingsStore::readDword(SettingsHive hive, std::string_view keyPath,
                                                      std::string_view valueName) const {
    std::optional<SettingsValue> value = readValue(hive, keyPath, valueName);
    if (!value || value->type != SettingsType::Dword || value->data.size() != 4) {
        return std::nullopt;
    }
    return dwordNumber(value->data);
}

std::optional<std::string> SettingsStore::readBinary(SettingsHive hive, std::string_view keyPath,
                                                     std::string_view valueName) const {
    std::optional<SettingsValue> value = readValue(hive, keyPath, valueName);
    if (!value || value->type != SettingsType::Binary) {
        return std::nullopt;
    }
    return std::move(value->data);
}

std::string SettingsStore::hiveProblem(SettingsHive hive) const {
    std::string problem;
    withHive(
        hive, [](const SettingsTree&) {}, problem);
    return problem;
}

bool SettingsStore::createKey(SettingsHive hive, std::string_view keyPath, bool& created,
                              std::string& error) {
    created = false;
    KeyNames names;
    if (!checkKeyPath(keyPath, names, error)) {
        return false;
    }
    bool madeNow = false;
    bool ok = updateHive(
        hive,
        [&](SettingsTree& tree, std::string&) {
            createKeyPath(tree, names, madeNow);
            return true;
        },
        error);
    created = ok && madeNow;
    return ok;
}

bool SettingsStore::setValue(SettingsHive hive, std::string_view keyPath,
                             std::string_view valueName, const SettingsValue& value,
                             std::string& error) {
    KeyNames names;
    if (!checkKeyPath(keyPath, names, error) || !checkValueName(valueName, error)) {
        return false;
    }
    return updateHive(
        hive,
        [&](SettingsTree& tree, std::string&) {
            bool created = false;
            putValue(tree, createKeyPath(tree, names, created), valueName, value);
            return true;
        },
        error);
}

bool SettingsStore::setString(SettingsHive hive, std::string_view keyPath,
                              std::string_view valueName, std::string_view text,
                              std::string& error) {
    return setValue(hive, keyPath, valueName, {SettingsType::String, std::string(text)}, error);
}

bool SettingsStore::setDword(SettingsHive hive, std::string_view keyPath,
                             std::string_view valueName, std::uint32_t number, std::string& error) {
    return setValue(hive, keyPath, valueName, {SettingsType::Dword, dwordBytes(number)}, error);
}

bool SettingsStore::setBinary(SettingsHive hive, std::string_view keyPath,
                              std::string_view valueName, std::string_view bytes,
                              std::string& error) {
    return setValue(hive, keyPath, valueName, {SettingsType::Binary, std::string(bytes)}, error);
}

bool SettingsStore::deleteValue(SettingsHive hive, std::string_view keyPath,
                                std::string_view valueName, std::string& error) {
    KeyNames names;
    if (!checkKeyPath(keyPath, names, error) || !checkValueName(valueName, error)) {
        return false;
    }
    return updateHive(
        hive,
        [&](SettingsTree& tree, std::string&) {
            if (Key* key = findKey(tree.root, names)) {
                auto it = findValue(*key, valueName);
                if (it != key->values.end()) {
                    key->values.erase(it);
                    tree.dirty = true;
                }
            }
            return true;
        },
        error);
}

bool SettingsStore::deleteKey(SettingsHive hive, std::string_view keyPath, std::string& error) {
    return removeKey(hive, keyPath, false, error);
}

bool SettingsStore::deleteTree(SettingsHive hive, std::string_view keyPath, std::string& error) {
    return removeKey(hive, keyPath, true, error);
}

bool SettingsStore::removeKey(SettingsHive hive, std::string_view keyPath, bool withSubkeys,
                              std::string& error) {
    KeyNames names;
    if (!checkKeyPath(keyPath, names, error)) {
        return false;
    }
    if (names.empty()) {
        error = "the root of " + std::string(hiveRoot(hive)) + " cannot be deleted";
        return false;
    }
    return updateHive(
        hive,
        [&](SettingsTree& tree, std::string& problem) {
            Key* parent = findKey(tree.root, KeyNames(names.begin(), names.end() - 1));
            if (parent == nullptr) {
                return true;
            }
            auto it = subkeyPosition(*parent, names.back());
            if (it == parent->subkeys.end() || !sameName(it->name, names.back())) {
                return true;
            }
            if (!withSubkeys && !it->subkeys.empty()) {
                problem = "cannot delete " + fullKeyName(hive, keyPath) + ": the key has subkeys";
                return false;
            }
            parent->subkeys.erase(it);
            tree.dirty = true;
            return true;
        },
        error);
}

// ---- FileSettingsStore ----

FileSettingsStore::FileSettingsStore(std::string folder) : m_folder(std::move(folder)) {}

bool FileSettingsStore::withHive(SettingsHive hive, const Reading& read,
                                 std::string& problem) const {
    std::string folder = m_folder.empty() ? configFolder() : m_folder;
    SettingsTree tree;
    if (!folder.empty()) {
        std::string path = folder + "/" + hiveFileName(hive);
        // Writers replace the file by rename, so a read sees a whole file even without the lock;
        // the lock only makes it wait for a write in progress. No lock file: no write yet.
        Descriptor lock(::open((path + ".lock").c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        if (lock.get() >= 0) {
            lockFile(lock, LOCK_SH);
        }
        if (!readHiveFile(path, hive, tree, problem)) {
            return false;
        }
    }
    read(tree);
    return true;
}

bool FileSettingsStore::updateHive(SettingsHive hive, const Change& change, std::string& error) {
    if (hive == SettingsHive::LocalMachine) {
        error = std::string(hiveRoot(hive)) + " is read-only";
        return false;
    }
    std::string folder = m_folder.empty() ? configFolder() : m_folder;
    if (folder.empty()) {
        error = "the configuration folder ($XDG_CONFIG_HOME/paginor) cannot be created";
        return false;
    }
    errno = 0;
    if (!makeFolders(folder)) {
        error = fileError(folder, errno != 0 ? errno : ENOTDIR);  // ENOTDIR: a file is in the way
        return false;
    }
    std::string path = folder + "/" + hiveFileName(hive);
    std::string lockPath = path + ".lock";
    Descriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.get() < 0 || !lockFile(lock, LOCK_EX)) {
        error = fileError(lockPath, errno);
        return false;
    }
    SettingsTree tree;
    if (!readHiveFile(path, hive, tree, error) || !change(tree, error)) {
        return false;
    }
    if (!tree.dirty) {
        return true;
    }
    std::string text = hiveText(tree, hive);
    if (text.size() > kMaxSettingsFileBytes) {
        error = path + ": the settings would take more than " +
                std::to_string(kMaxSettingsFileBytes) + " bytes";
        return false;
    }
    return replaceFile(path, text, error);
}

// ---- MemorySettingsStore ----

MemorySettingsStore::MemorySettingsStore()
    : m_currentUser(std::make_unique<SettingsTree>()),
      m_localMachine(std::make_unique<SettingsTree>()) {}

MemorySettingsStore::~MemorySettingsStore() = default;

SettingsTree& MemorySettingsStore::tree(SettingsHive hive) const {
    return hive == SettingsHive::CurrentUser ? *m_currentUser : *m_localMachine;
}

bool MemorySettingsStore::load(SettingsHive hive, std::string_view text, std::string& error) {
    SettingsTree loaded;
    if (!parseHive(text, hive, loaded, error)) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    tree(hive) = std::move(loaded);
    return true;
}

std::string MemorySettingsStore::text(SettingsHive hive) const {
    std::lock_guard lock(m_mutex);
    return hiveText(tree(hive), hive);
}

void MemorySettingsStore::failWrites(std::string message) {
    std::lock_guard lock(m_mutex);
    m_writeError = std::move(message);
}

bool MemorySettingsStore::withHive(SettingsHive hive, const Reading& read, std::string&) const {
    std::lock_guard lock(m_mutex);
    read(tree(hive));
    return true;
}

bool MemorySettingsStore::updateHive(SettingsHive hive, const Change& change, std::string& error) {
    std::lock_guard lock(m_mutex);
    if (!m_writeError.empty()) {
        error = m_writeError;
        return false;
    }
    if (hive == SettingsHive::LocalMachine) {
        error = std::string(hiveRoot(hive)) + " is read-only";
        return false;
    }
    SettingsTree changed = tree(hive);  // a failed change leaves the hive as it was
    changed.dirty = false;
    if (!change(changed, error)) {
        return false;
    }
    tree(hive) = std::move(changed);
    return true;
}

const SettingsReader& defaultSettingsReader() {
    static const FileSettingsStore store;
    return store;
}

}  // namespace paginor
