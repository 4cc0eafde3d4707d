#include "platform/settings_reader.h"

#include <fstream>

#include "platform/folders.h"

namespace paginor {

namespace {

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) {
            return false;
        }
    }
    return true;
}

std::string_view hiveName(SettingsHive hive) {
    return hive == SettingsHive::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string_view trimmed(std::string_view text) {
    std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) {
        return {};
    }
    std::size_t last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// Reads a quoted REGEDIT4 string starting at text[pos] == '"'; pos ends after the closing quote.
// Only \\ and \" are escapes; any other backslash stays as written.
std::optional<std::string> readQuoted(std::string_view text, std::size_t& pos) {
    if (pos >= text.size() || text[pos] != '"') {
        return std::nullopt;
    }
    std::string out;
    for (++pos; pos < text.size(); ++pos) {
        char c = text[pos];
        if (c == '"') {
            ++pos;
            return out;
        }
        if (c == '\\' && pos + 1 < text.size() && (text[pos + 1] == '\\' || text[pos + 1] == '"')) {
            c = text[++pos];
        }
        out.push_back(c);
    }
    return std::nullopt;
}

// A value line "name"=...: the name, and the text when the value is a string ("name"="text");
// other types (dword:, hex:, a deletion) give no text.
struct ValueLine {
    std::string name;
    std::optional<std::string> text;
};

std::optional<ValueLine> parseValueLine(std::string_view line) {
    std::size_t pos = 0;
    std::optional<std::string> name = readQuoted(line, pos);
    if (!name || pos >= line.size() || line[pos] != '=') {
        return std::nullopt;
    }
    ++pos;
    std::optional<std::string> text;
    if (pos < line.size() && line[pos] == '"') {
        text = readQuoted(line, pos);
        if (!text || pos != line.size()) {
            return std::nullopt;
        }
    }
    return ValueLine{std::move(*name), std::move(text)};
}

}  // namespace

FileSettingsReader::FileSettingsReader(std::string folder) : m_folder(std::move(folder)) {}

std::optional<std::string> FileSettingsReader::readString(SettingsHive hive,
                                                          std::string_view keyPath,
                                                          std::string_view valueName) const {
    std::string folder = m_folder.empty() ? configFolder() : m_folder;
    if (folder.empty()) {
        return std::nullopt;
    }
    std::ifstream in(folder + "/" + std::string(hiveName(hive)) + ".reg", std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string section = std::string(hiveName(hive)) + "\\" + std::string(keyPath);
    std::optional<std::string> found;
    bool inSection = false;
    std::string raw;
    bool firstLine = true;
    while (std::getline(in, raw)) {
        std::string_view line = trimmed(raw);
        if (firstLine && line.starts_with("\xEF\xBB\xBF")) {
            line.remove_prefix(3);
        }
        firstLine = false;
        if (line.starts_with('[')) {
            inSection =
                line.ends_with(']') && equalsIgnoringCase(line.substr(1, line.size() - 2), section);
        } else if (inSection && line.starts_with('"')) {
            std::optional<ValueLine> entry = parseValueLine(line);
            if (entry && equalsIgnoringCase(entry->name, valueName)) {
                found = std::move(entry->text);  // a later line replaces an earlier one
            }
        }
    }
    return found;
}

const SettingsReader& defaultSettingsReader() {
    static const FileSettingsReader reader;
    return reader;
}

}  // namespace paginor
