#include "app/startup.h"

#include <chrono>
#include <ctime>
#include <fstream>

#include "app/ui_services.h"
#include "core/report_core.h"
#include "core/text_scan.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

std::chrono::sys_days civilDay(const LocalDate& date) {
    using namespace std::chrono;
    return sys_days(year(date.year) / month(static_cast<unsigned>(date.month)) /
                    day(static_cast<unsigned>(date.day)));
}

bool validDate(const LocalDate& date) {
    using namespace std::chrono;
    return year_month_day(year(date.year), month(static_cast<unsigned>(date.month)),
                          day(static_cast<unsigned>(date.day)))
        .ok();
}

constexpr const char kGreeting[] = "Thank you for choosing Paginor!";
constexpr const char kKeywordHint[] =
    "You have never setup URL keywords. After you have setup the keywords, paginor may launch "
    "and download report files on the web instead of IE. Then you can print report with paginor "
    "more easily than orarrp";
constexpr const char kAddressTooLong[] = "The size of command line buffer is not enough";
constexpr const char kUpdateCheckTitle[] = "Checking the new version ...";
constexpr std::int64_t kUpdateCheckDays = 90;

bool autoUpdate(StartupContext& context) {
    const auto url = readStringSetting(context.settings, kUpdateUrlValue);
    if (!url) {
        return false;
    }
    context.actions.setTitle(kUpdateCheckTitle);
    context.actions.placeUpdateCheckWindow();
    {
        WaitCursor wait(context.ui);
        std::string updater;
        if (context.actions.checkForUpdate(*url, updater)) {
            context.actions.startProgram({updater, "--prv_update"});
        }
        SaveUpdateCheckDate(context.settings, context.now.date);
    }
    return false;
}

// Step 12 and 13; false when the program is to end.
bool openReport(const std::string& path, const CommandLine& line, const StartupSettings& settings,
                StartupContext& context) {
    StartupActions& actions = context.actions;
    DownloadState state;
    state.reset();
    state.path = path;
    state.pathCapacity = 0;
    state.report = &actions.report();
    if (line.hasCookie)
        state.cookie = line.cookie;
    state.reportAddress = line.kind == ArgumentKind::Url ? line.address : std::string();
    const std::string saved = actions.title();
    actions.setTitle(kInitializingTitle);
    actions.runJob(state, DownloadMode::Initialise);
    actions.setTitle(saved);
    const bool loaded = state.finished.load();
    if (loaded) {
        actions.runCommand("nextpage");
        actions.fillPageList();
    } else {
        context.ui.messageBox(state.errorText, MessageButtons::Ok, MessageIcon::Stop);
    }
    actions.setProgress(0);
    if (!loaded || !(settings.printDirectly || actions.report().IsPrintDirectly())) {
        return true;
    }
    if (!actions.applyPrintDirectives()) {
        actions.openPrintSetup();
        return false;
    }
    if (actions.printerName().empty()) {
        context.ui.messageBox("Failed to get the default printer. Please contact " +
                              context.supportAddress + " and report the bug.");
        actions.openPrintSetup();
        return false;
    }
    actions.runCommand("print 1 " + std::to_string(actions.pageCount()));
    return false;
}

}  // namespace

std::string JoinArguments(const std::vector<std::string>& arguments) {
    std::string text;
    for (const std::string& argument : arguments) {
        if (!text.empty())
            text += ' ';
        text += argument;
    }
    return text;
}

std::string StripQuotes(std::string_view text) {
    if (text.empty() || text.front() != '"') {
        return std::string(text);
    }
    text.remove_prefix(1);
    if (!text.empty() && text.back() == '"') {
        text.remove_suffix(1);
    }
    return std::string(text);
}

std::string CollapseDoubledSlashes(std::string_view address) {
    constexpr std::size_t kFrom = 8;  // "https://"
    std::size_t query = address.find('?');
    if (query == std::string_view::npos)
        query = address.size();
    std::string out;
    out.reserve(address.size());
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > kFrom && i < query && address[i] == '/' && address[i - 1] == '/') {
            continue;
        }
        out += address[i];
    }
    return out;
}

void ParseUrlArgument(std::string_view text, CommandLine& line) {
    line.kind = ArgumentKind::Url;
    if (text.size() > kMaxAddressBytes) {
        line.addressTooLong = true;
        return;
    }
    std::size_t end = 0;
    while (end < text.size() && !IsBlank(text[end]))
        ++end;
    std::string_view address = text.substr(0, end);
    std::string_view rest = text.substr(end);
    while (!rest.empty() && IsBlank(rest.front()))
        rest.remove_prefix(1);
    if (!rest.empty() && rest.front() == '"')
        rest.remove_prefix(1);
    if (!rest.empty() && rest.back() == '"')
        rest.remove_suffix(1);
    constexpr std::string_view kCookie = "--cookie:";
    if (startsWithNoCase(rest, kCookie)) {
        line.hasCookie = true;
        line.cookie = std::string(rest.substr(kCookie.size()));
    }
    line.address = CollapseDoubledSlashes(address);
}

bool ReadLinkFile(const std::string& path, std::string& content, std::size_t maxBytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    content.assign(maxBytes, '\0');
    in.read(content.data(), static_cast<std::streamsize>(maxBytes));
    content.resize(static_cast<std::size_t>(in.gcount()));
    return true;
}

CommandLine ParseCommandLine(const std::string& text,
                             bool (*readFile)(const std::string&, std::string&, std::size_t)) {
    CommandLine line;
    if (text.empty()) {
        line.kind = ArgumentKind::Empty;
        return line;
    }
    if (text == "--install" || text == "-install") {
        line.kind = ArgumentKind::Install;
        return line;
    }
    if (text == "--uninstall") {
        line.kind = ArgumentKind::Uninstall;
        return line;
    }
    if (startsWithNoCase(text, "--auto_update")) {
        line.kind = ArgumentKind::AutoUpdate;
        return line;
    }
    std::string argument = text;
    if (argument.rfind("--", 0) != 0) {
        argument = StripQuotes(argument);
        if (endsWithNoCase(argument, ".palk")) {
            std::string content;
            if (!(readFile ? readFile : ReadLinkFile)(argument, content, kMaxLinkFileBytes)) {
                line.linkFileUnreadable = true;
                content.clear();
            }
            if (content.size() > kMaxLinkFileBytes)
                content.resize(kMaxLinkFileBytes);
            argument = kUrlSwitch + content;
        }
    }
    if (startsWithNoCase(argument, kUrlSwitch)) {
        ParseUrlArgument(std::string_view(argument).substr(std::string_view(kUrlSwitch).size()),
                         line);
        return line;
    }
    line.kind = ArgumentKind::LocalPath;
    line.path = argument;
    return line;
}

bool WantsPrintDirectly(std::string_view address, bool printDirectlySetting) {
    return printDirectlySetting || address.find("pgrprintdirectly") != std::string_view::npos;
}

bool IsNonReportFile(std::string_view path) {
    return endsWithNoCase(path, ".txt") || endsWithNoCase(path, ".doc") ||
           endsWithNoCase(path, ".pdf");
}

LocalTime nowLocal() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return {{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday},
            local.tm_hour,
            local.tm_min,
            local.tm_sec};
}

std::int64_t DaysSince(std::uint32_t dateNumber, const LocalDate& today) {
    const LocalDate then{static_cast<int>(dateNumber / 10000),
                         static_cast<int>(dateNumber / 100 % 100),
                         static_cast<int>(dateNumber % 100)};
    if (dateNumber == 0 || !validDate(then) || !validDate(today)) {
        return 0;
    }
    return (civilDay(today) - civilDay(then)).count();
}

bool ShouldCheckForUpdate(std::int64_t daysSinceCheck, std::uint32_t updateFlag,
                          const LocalTime& now) {
    using namespace std::chrono;
    if (daysSinceCheck < kUpdateCheckDays || (updateFlag & 1u) == 0 || !validDate(now.date)) {
        return false;
    }
    const LocalDate release{kReleaseDateNumber / 10000, kReleaseDateNumber / 100 % 100,
                            kReleaseDateNumber % 100};
    const auto threshold = civilDay(release) + days(30) + hours(2) + minutes(5);
    const auto current =
        civilDay(now.date) + hours(now.hour) + minutes(now.minute) + seconds(now.second);
    return current > threshold;
}

StartupSettings ReadStartupSettings(const SettingsStore& store, const LocalDate& today) {
    StartupSettings settings;
    settings.keyExisted = keyExists(store, kPaginorKey);
    if (!settings.keyExisted) {
        return settings;
    }
    const auto keywords = readStringSetting(store, kKeywordsValue);
    settings.keywordsNeverSet = keywords && *keywords == DefaultKeywords();
    if (const auto date = readDwordSetting(store, kLastUpdateCheckValue)) {
        settings.daysSinceCheck = DaysSince(*date, today);
    }
    settings.printDirectly = readDwordSetting(store, kPrintDirectlyValue).value_or(0) == 1;
    // Bit 0 is taken as 1 and bit 1 as 0 when the value is missing.
    settings.updateFlag =
        readDwordSetting(store, kUpdateFlagValue).value_or(kUpdateFlagValue.defaultNumber);
    return settings;
}

bool RunStartup(const std::string& commandLine, StartupContext& context) {
    StartupActions& actions = context.actions;
    if (commandLine == "--install" || commandLine == "-install") {
        actions.installSettings();
        return false;
    }
    StartupSettings settings;
    if (!keyExists(context.settings, kPaginorKey)) {
        actions.installSettings();
        context.ui.messageBox(kGreeting);
    } else {
        settings = ReadStartupSettings(context.settings, context.now.date);
    }
    actions.showMainWindow();

    const CommandLine line = ParseCommandLine(commandLine, context.readFile);
    switch (line.kind) {
        case ArgumentKind::Install:
            return false;  // handled above
        case ArgumentKind::Empty:
            if (settings.keywordsNeverSet) {
                context.ui.messageBox(kKeywordHint);
                actions.keywordSetup(kKeywordsValue.name);
            }
            break;
        case ArgumentKind::Uninstall:
            // "regsvr32 /s /u navlet.dll" has no Linux meaning: the add-on is outside the program.
            UninstallSettings(context.settings);
            actions.unregisterFileTypes();
            return false;
        case ArgumentKind::AutoUpdate:
            return autoUpdate(context);
        case ArgumentKind::Url: {
            if (line.addressTooLong) {
                context.ui.messageBox(kAddressTooLong, MessageButtons::Ok, MessageIcon::Stop);
                break;
            }
            const bool print = WantsPrintDirectly(line.address, settings.printDirectly);
            DownloadState state;
            state.reset();
            state.path = line.address;
            state.pathCapacity = DownloadState::kPathCapacity;
            if (line.hasCookie)
                state.cookie = line.cookie;
            const std::string saved = actions.title();
            actions.setTitle(kDownloadingTitle);
            actions.runJob(state, DownloadMode::Download);
            actions.setTitle(saved);
            actions.setProgress(0);
            // Closing the browser's frame windows (CloseBrowserFramesProc) has no Linux meaning.
            if (state.succeeded.load()) {
                if (IsNonReportFile(state.path)) {
                    actions.openNonReportFile(state.path, line.address, print);
                    return false;
                }
                if (!openReport(state.path, line, settings, context)) {
                    return false;
                }
            } else if (!state.finished.load()) {
                context.ui.messageBox(state.errorText, MessageButtons::Ok, MessageIcon::Stop);
            }
            break;
        }
        case ArgumentKind::LocalPath:
            if (!openReport(line.path, line, settings, context)) {
                return false;
            }
            break;
    }
    if (ShouldCheckForUpdate(settings.daysSinceCheck, settings.updateFlag, context.now)) {
        actions.setUpdating(true);
        actions.startUpdateThread((settings.updateFlag & 2u) != 0);
    }
    return true;
}

}  // namespace paginor
