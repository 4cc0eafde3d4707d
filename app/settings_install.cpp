#include "app/settings_install.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/text_format.h"
#include "core/text_scan.h"
#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/replacing_file.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

constexpr const char kThreshold122[] = "1.2.2";
constexpr const char kThreshold125[] = "1.2.5";
constexpr const char kThreshold126[] = "1.2.6";
constexpr const char kThreshold130[] = "1.3.0";
constexpr const char kThreshold135[] = "1.3.5";
constexpr const char kMissingVersion[] = "1.0.0";
constexpr const char kPageSetupFile[] = "pagesetup.dat";

// Keeps the first error of a run of writes.
class Writer {
public:
    explicit Writer(SettingsStore& store) : m_store(store) {}
    void text(const SettingValue& value, std::string_view data) {
        std::string error;
        if (!writeStringSetting(m_store, value, data, error))
            keep(error);
    }
    void number(const SettingValue& value, std::uint32_t data) {
        std::string error;
        if (!writeDwordSetting(m_store, value, data, error))
            keep(error);
    }
    void keep(const std::string& error) {
        if (m_error.empty())
            m_error = error;
    }
    const std::string& error() const { return m_error; }

private:
    SettingsStore& m_store;
    std::string m_error;
};

std::string environmentOr(const char* name, const std::string& fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] == '/' ? std::string(value) : fallback;
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

std::string readWhole(const std::string& path, std::size_t cap, bool& tooLarge, bool& opened) {
    tooLarge = false;
    std::ifstream in(path, std::ios::binary);
    opened = static_cast<bool>(in);
    if (!opened) {
        return {};
    }
    std::string text(cap + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > cap) {
        tooLarge = true;
        text.resize(cap);
    }
    return text;
}

}  // namespace

std::string DefaultKeywords() {
    return std::string(kReportHostName) + "\tgetreport.php\tmime=text/html";
}

LocalDate todayLocal() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

int CompareVersions(std::string_view a, std::string_view b) {
    // Byte by byte, as the C library compares texts: "1.10.0" sorts before "1.2.2".
    const int order = a.compare(b);
    return order < 0 ? -1 : order > 0 ? 1 : 0;
}

SetupFileValues ParseSetupFile(std::string_view text) {
    SetupFileValues values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::string_view value;
        std::string* target = nullptr;
        if (startsWithNoCase(line, "update_url=")) {
            value = line.substr(11);
            target = &values.updateUrl;
        } else if (startsWithNoCase(line, "smtpserver=")) {
            value = line.substr(11);
            target = &values.smtpServer;
        }
        if (target != nullptr && !value.empty() && value.size() <= kMaxSetupValueBytes) {
            *target = std::string(value);
        }
    }
    return values;
}

SetupFileValues ReadSetupFile(const std::string& tempFolder) {
    if (tempFolder.empty()) {
        return {};
    }
    const std::string first = tempFolder + "/" + kSetupFileName;
    std::string path;
    if (!TakeOwnFile(first, kMaxSetupPathBytes, path) || path.empty() ||
        path.size() > kMaxSetupPathBytes) {
        return {};
    }
    while (!path.empty() && (path.back() == '\r' || path.back() == '\n' || path.back() == ' ')) {
        path.pop_back();
    }
    if (path.empty()) {
        return {};
    }
    bool tooLarge = false;
    bool opened = false;
    std::string text = readWhole(path, kMaxSetupFileBytes, tooLarge, opened);
    if (!opened || tooLarge) {
        return {};
    }
    return ParseSetupFile(text);
}

InstallEnvironment currentInstallEnvironment() {
    InstallEnvironment env;
    env.today = todayLocal();
    std::error_code ec;
    env.programPath = std::filesystem::read_symlink("/proc/self/exe", ec).string();
    env.tempFolder = tempFolder();
    env.dataHome = environmentOr("XDG_DATA_HOME", homeFolder() + "/.local/share");
    env.configHome = environmentOr("XDG_CONFIG_HOME", homeFolder() + "/.config");
    env.appDataFolder = appDataFolder();
    env.programFolder = executableFolder();
    env.runTool = [](const std::vector<std::string>& argv) {
        if (!findProgram(argv.front()).empty()) {
            std::string error;
            runAndWait(argv, error);
        }
    };
    return env;
}

void MigrateMachineSettings(SettingsStore& store, const InstallEnvironment& env) {
    const auto machine = store.enumerate(kMachinePaginorKey.hive, kMachinePaginorKey.path);
    if (!machine) {
        return;
    }
    // Linux has no earlier machine-wide installation and the machine hive is read-only: values
    // the user lacks are copied, nothing is deleted, and the user's own store is never replaced.
    constexpr std::size_t kMaxNameBytes = 100;
    constexpr std::size_t kMaxDataBytes = 1024;
    for (const SettingsNamedValue& value : machine->values) {
        if (value.name.size() >= kMaxNameBytes || value.value.data.size() > kMaxDataBytes) {
            continue;
        }
        if (store.readValue(kPaginorKey.hive, kPaginorKey.path, value.name)) {
            continue;
        }
        std::string error;
        store.setValue(kPaginorKey.hive, kPaginorKey.path, value.name, value.value, error);
    }
    if (!env.appDataFolder.empty() && !env.programFolder.empty()) {
        const std::filesystem::path from = env.programFolder + "/" + kPageSetupFile;
        const std::filesystem::path to = env.appDataFolder + "/" + kPageSetupFile;
        std::error_code ec;
        if (std::filesystem::exists(from, ec) && !std::filesystem::exists(to, ec)) {
            std::filesystem::copy_file(from, to, ec);
        }
    }
}

std::string InstallSettings(SettingsStore& store, const InstallEnvironment& env) {
    MigrateMachineSettings(store, env);
    Writer write(store);

    bool created = false;
    std::string error;
    if (!store.createKey(kPageSetupKey.hive, kPageSetupKey.path, created, error)) {
        write.keep(error);
    } else if (created) {
        write.text(kHeaderValue, "");
        write.text(kFooterValue, "");
        write.text(kMarginBottomValue, "0");
        write.text(kMarginLeftValue, "0");
        write.text(kMarginRightValue, "0");
        write.text(kMarginTopValue, "0");
    }

    const std::string stored = readStringSetting(store, kVersionValue).value_or(kMissingVersion);
    auto olderThan = [&stored](const char* threshold) {
        return CompareVersions(stored, threshold) < 0;
    };
    if (olderThan(kThreshold122)) {
        write.number(kLastUpdateCheckValue, env.today.number());
    }
    if (env.programPath.size() < kExePathValue.maxBytes) {
        write.text(kExePathValue, env.programPath);
    }
    write.text(kReleaseDateValue, kReleaseDateText);
    if (olderThan(kThreshold125)) {
        write.text(kKeywordsValue, DefaultKeywords());
    }
    if (olderThan(kThreshold130)) {
        write.text(kKeywords2Value, kDefaultKeywords2);
        write.text(kKeywords3Value, kDefaultKeywords3);
        write.text(kKeywords4Value, kDefaultKeywords4);
    }
    if (olderThan(kThreshold135)) {
        write.text(kEmailAddressValue, "");
        write.text(kUserNameValue, "");
        write.text(kPasswordValue, "");
        write.number(kRequiresAuthenticationValue, 0);
    }
    if (stored != kVersionText) {
        write.text(kVersionValue, kVersionText);
    }
    const SetupFileValues setup = ReadSetupFile(env.tempFolder);
    if (olderThan(kThreshold126)) {
        write.text(kUpdateUrlValue,
                   setup.updateUrl.empty() ? std::string(kDefaultUpdateUrl) : setup.updateUrl);
        write.number(kUpdateFlagValue, 1);
    }
    if (olderThan(kThreshold135)) {
        write.text(kSmtpServerValue, setup.smtpServer);
    }
    if (!RegisterReportFileTypeRrph(env, error)) {
        write.keep(error);
    }
    if (!RegisterReportFileTypePalk(env, error)) {
        write.keep(error);
    }
    return write.error();
}

void SaveUpdateCheckDate(SettingsStore& store, const LocalDate& today) {
    if (!keyExists(store, kPaginorKey)) {
        return;
    }
    writeDwordSetting(store, kLastUpdateCheckValue, today.number());
}

void UninstallSettings(SettingsStore& store) {
    std::string error;
    store.deleteTree(kPageSetupKey.hive, kPageSetupKey.path, error);
    store.deleteTree(kPaginorKey.hive, kPaginorKey.path, error);
}

std::string XmlEscape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (AppendMarkupEntity(out, static_cast<unsigned char>(c))) {
            continue;
        }
        if (c == '\'') {
            out += "&apos;";
        } else if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            out += "\xEF\xBF\xBD";  // XML has no such character
        } else {
            out += c;
        }
    }
    return out;
}

std::string MimePackageXml(const FileType& type) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n";
    xml += "  <mime-type type=\"" + XmlEscape(type.mimeType) + "\">\n";
    xml += "    <comment>" + XmlEscape(type.comment) + "</comment>\n";
    xml += "    <sub-class-of type=\"text/html\"/>\n";
    xml += "    <glob pattern=\"" + XmlEscape(type.glob) + "\"/>\n";
    xml += "  </mime-type>\n";
    xml += "</mime-info>\n";
    return xml;
}

std::string DesktopExecArgument(std::string_view argument) {
    // Exec level: inside double quotes, '"', '`', '$' and '\' take a backslash; '%' is doubled.
    std::string quoted = "\"";
    for (char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        } else if (c == '%') {
            quoted += '%';
        }
        quoted += c;
    }
    quoted += '"';
    // File level: the string value escapes of the Desktop Entry format.
    std::string value;
    for (char c : quoted) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
        }
    }
    return value;
}

std::string DesktopFileText(const std::string& programPath) {
    const std::string exec = DesktopExecArgument(programPath) + " %f";
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=Paginor\n";
    text += "Comment=Oracle Reports viewer\n";
    text += "Exec=" + exec + "\n";
    text += "Icon=paginor\n";
    text += "Terminal=false\n";
    text += "NoDisplay=false\n";
    text += "Categories=Office;Viewer;\n";
    text += std::string("MimeType=") + kRrphType.mimeType + ";" + kPalkType.mimeType + ";\n";
    text += "Actions=Print;\n";
    text += "\n[Desktop Action Print]\n";
    text += "Name=Print\n";
    text += "Exec=" + exec + "\n";
    return text;
}

std::string MimeAppsWithDefault(std::string_view current, std::string_view mimeType) {
    const std::string entry = std::string(mimeType) + "=" + kDesktopFileName;
    std::vector<std::string> lines;
    std::istringstream in{std::string(current)};
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    std::vector<std::string> out;
    bool inDefaults = false;
    bool written = false;
    for (const std::string& line : lines) {
        const bool header = !line.empty() && line.front() == '[';
        if (header && inDefaults && !written) {
            out.push_back(entry);
            written = true;
        }
        if (header) {
            inDefaults = line == "[Default Applications]";
        }
        if (inDefaults && !header && line.size() > mimeType.size() &&
            line.compare(0, mimeType.size(), mimeType) == 0 && line[mimeType.size()] == '=') {
            if (!written) {
                out.push_back(entry);
                written = true;
            }
            continue;
        }
        out.push_back(line);
    }
    if (!written) {
        if (!inDefaults) {
            out.push_back("[Default Applications]");
        }
        out.push_back(entry);
    }
    std::string text;
    for (const std::string& line : out) {
        text += line + "\n";
    }
    return text;
}

bool WriteFileAtomically(const std::string& path, std::string_view content, std::string& error) {
    ReplacingFile file(path);
    if (!file.create() || !file.write(content) || !file.commit()) {
        error = "cannot write " + file.error();
        return false;
    }
    return true;
}

namespace {

// A theme folder with a cache of its own shows only the icons the cache knows: keep it current.
// Without one the desktop reads the folder itself, and none is made.
void updateIconCache(const InstallEnvironment& env) {
    const std::string theme = env.dataHome + "/" + kIconThemeFolder;
    std::error_code ec;
    if (std::filesystem::exists(theme + "/icon-theme.cache", ec)) {
        env.runTool({"gtk-update-icon-cache", "--quiet", "--force", "--ignore-theme-index", theme});
    }
}

}  // namespace

bool RegisterReportFileType(const FileType& type, const InstallEnvironment& env,
                            std::string& error) {
    if (env.dataHome.empty() || env.configHome.empty()) {
        error = "no data or configuration folder for the file types";
        return false;
    }
    const std::string mimeFolder = env.dataHome + "/mime";
    const std::string packages = mimeFolder + "/packages";
    const std::string applications = env.dataHome + "/applications";
    std::error_code ec;
    std::filesystem::create_directories(packages, ec);
    std::filesystem::create_directories(applications, ec);
    std::filesystem::create_directories(env.configHome, ec);
    const std::string icon = env.dataHome + "/" + kProgramIconFile;
    std::filesystem::create_directories(std::filesystem::path(icon).parent_path(), ec);
    bool ok = WriteFileAtomically(packages + "/" + type.packageFile, MimePackageXml(type), error);
    ok = ok && WriteFileAtomically(icon, ProgramIconSvg(), error);
    ok = ok && WriteFileAtomically(applications + "/" + kDesktopFileName,
                                   DesktopFileText(env.programPath), error);
    if (ok) {
        const std::string mimeApps = env.configHome + "/mimeapps.list";
        bool tooLarge = false;
        bool opened = false;
        const std::string current = readWhole(mimeApps, kMaxSetupFileBytes, tooLarge, opened);
        if (tooLarge) {
            error = mimeApps + " is larger than " + std::to_string(kMaxSetupFileBytes) + " bytes";
            ok = false;
        } else {
            ok = WriteFileAtomically(mimeApps, MimeAppsWithDefault(current, type.mimeType), error);
        }
    }
    if (env.runTool) {
        env.runTool({"update-mime-database", mimeFolder});
        env.runTool({"update-desktop-database", applications});
        updateIconCache(env);
    }
    return ok;
}

std::string MimeAppsWithoutDefault(std::string_view current, std::string_view mimeType) {
    const std::string entry = std::string(mimeType) + "=" + kDesktopFileName;
    std::istringstream in{std::string(current)};
    std::string out;
    bool inDefaults = false;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.front() == '[') {
            inDefaults = line == "[Default Applications]";
        } else if (inDefaults && line == entry) {
            continue;
        }
        out += line + "\n";
    }
    return out;
}

void UnregisterReportFileTypes(const InstallEnvironment& env) {
    if (env.dataHome.empty()) {
        return;
    }
    const std::string mimeFolder = env.dataHome + "/mime";
    const std::string applications = env.dataHome + "/applications";
    for (const FileType* type : {&kRrphType, &kPalkType}) {
        RemoveFile(mimeFolder + "/packages/" + type->packageFile);
    }
    RemoveFile(applications + "/" + kDesktopFileName);
    RemoveFile(env.dataHome + "/" + kProgramIconFile);
    if (!env.configHome.empty()) {
        const std::string mimeApps = env.configHome + "/mimeapps.list";
        bool tooLarge = false;
        bool opened = false;
        std::string text = readWhole(mimeApps, kMaxSetupFileBytes, tooLarge, opened);
        if (opened && !tooLarge) {
            for (const FileType* type : {&kRrphType, &kPalkType}) {
                text = MimeAppsWithoutDefault(text, type->mimeType);
            }
            std::string error;
            WriteFileAtomically(mimeApps, text, error);
        }
    }
    if (env.runTool) {
        env.runTool({"update-mime-database", mimeFolder});
        env.runTool({"update-desktop-database", applications});
        updateIconCache(env);
    }
}

bool RegisterReportFileTypeRrph(const InstallEnvironment& env, std::string& error) {
    return RegisterReportFileType(kRrphType, env, error);
}

bool RegisterReportFileTypePalk(const InstallEnvironment& env, std::string& error) {
    return RegisterReportFileType(kPalkType, env, error);
}

}  // namespace paginor
