#include "app/command_helpers.h"

#include "core/text_format.h"
#include "core/text_scan.h"
#include "platform/settings_store.h"
#include "platform/settings_table.h"

namespace paginor {
namespace {

constexpr const char kCannotParse[] = "Sorry, failed to parse the URL";
constexpr std::size_t kTestKeywordBytes = 300;

PdfOutputUrl refuse(std::string text) {
    return {false, std::move(text)};
}

}  // namespace

std::string ExampleReportUrl() {
    return std::string("http://") + kReportHostName +
           "/reports/rwservlet?report=sample.rdf&desformat=HTML&destype=cache";
}

PdfOutputUrl GetPdfOutputUrl(std::string_view url, std::string_view supportAddress) {
    if (url.empty()) {
        return refuse("Sorry, can not find the original URL");
    }
    const std::size_t question = url.find('?');
    if (question == std::string_view::npos) {
        return refuse("Sorry, can not find Interrogation Mark in the original URL");
    }
    std::string_view query = url.substr(question + 1);
    if (query.empty() || !IsWebAddress(url)) {
        return refuse(kCannotParse);
    }
    std::vector<std::string_view> parameters;
    while (true) {
        const std::size_t amp = query.find('&');
        if (parameters.size() == kMaxPdfParameters) {
            return refuse("Sorry, exceed the ability of Paginor, please contact " +
                          std::string(supportAddress) + "  [i>64]");
        }
        parameters.push_back(query.substr(0, amp));
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    std::string joined;
    for (std::string_view parameter : parameters) {
        if (startsWithNoCase(parameter, "callpaginor=")) {
            continue;
        }
        if (startsWithNoCase(parameter, "paginor")) {
            parameter.remove_prefix(7);
        }
        if (!joined.empty()) {
            joined += '&';
        }
        joined += parameter;
    }
    // A cut query would be a different request.
    if (joined.size() > kMaxPdfParameterBytes) {
        return refuse(kCannotParse);
    }
    // The host part ends at the first '/' after the scheme's "//" (the eighth character on for
    // http, the ninth for https).
    const std::size_t slash = url.find('/', url.find("://") + 3);
    if (slash == std::string_view::npos || slash >= question) {
        return refuse(kCannotParse);
    }
    return {true, std::string(url.substr(0, slash + 1)) + "reports/rwservlet?" + joined};
}

KeywordEdits SplitKeywords(std::string_view value) {
    KeywordEdits edits;
    for (std::size_t i = 0; i < kKeywordEdits; ++i) {
        const std::size_t tab = value.find('\t');
        edits[i] = std::string(value.substr(0, tab));
        if (tab == std::string_view::npos) {
            break;
        }
        value.remove_prefix(tab + 1);
    }
    return edits;
}

std::string JoinKeywords(const KeywordEdits& edits) {
    std::string joined;
    for (const std::string& edit : edits) {
        if (edit.empty()) {
            continue;
        }
        if (!joined.empty()) {
            joined += '\t';
        }
        joined += edit;
    }
    return joined;
}

const SettingValue* KeywordGroupValue(std::string_view group) {
    for (const SettingValue* value :
         {&kKeywordsValue, &kKeywords2Value, &kKeywords3Value, &kKeywords4Value}) {
        if (group == value->name) {
            return value;
        }
    }
    return nullptr;
}

KeywordEdits LoadKeywords(const SettingsStore& settings, const SettingValue& group,
                          bool& printDirectly) {
    printDirectly = readDwordSetting(settings, kPrintDirectlyValue).value_or(0) != 0;
    return SplitKeywords(readStringSetting(settings, group).value_or(std::string()));
}

bool SaveKeywords(SettingsStore& settings, const SettingValue& group, const KeywordEdits& edits,
                  bool printDirectly, bool printDirectlyWhenOpened, std::string& message) {
    const std::string joined = JoinKeywords(edits);
    if (joined.size() >= group.maxBytes) {
        message = "The keywords are too long: together they may hold at most " +
                  std::to_string(group.maxBytes - 1) + " characters.";
        return false;
    }
    std::string error;
    if (!writeStringSetting(settings, group, joined, error) ||
        (printDirectly != printDirectlyWhenOpened &&
         !writeDwordSetting(settings, kPrintDirectlyValue, printDirectly ? 1u : 0u, error))) {
        message = "The settings cannot be written: " + error;
        return false;
    }
    return true;
}

bool IsWebAddress(std::string_view url) {
    return startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://");
}

std::string CheckTestUrl(std::string_view url, std::string_view keywordValue) {
    if (!IsWebAddress(url)) {
        return "The URL should start with prefix 'http://' or 'https://'";
    }
    std::size_t checked = 0;
    while (checked < kKeywordEdits && !keywordValue.empty()) {
        const std::size_t tab = keywordValue.find('\t');
        const std::string_view keyword = keywordValue.substr(0, tab);
        keywordValue =
            tab == std::string_view::npos ? std::string_view() : keywordValue.substr(tab + 1);
        if (keyword.empty()) {
            continue;
        }
        ++checked;
        if (url.find(keyword) == std::string_view::npos) {
            return "Your URL should include keyword '" + std::string(keyword) + "' ";
        }
    }
    return {};
}

std::string ReadTestKeywords(const SettingsStore& settings, const SettingValue& group) {
    const SettingValue wide{group.key, group.name, group.type, 0, kTestKeywordBytes};
    return readStringSetting(settings, wide).value_or(std::string());
}

std::string TestUrlPage(std::string_view url) {
    return "<html><body><p><font size=\"5\">Please click <a href=\"" + EscapeMarkup(url) +
           "\"> here</a> to test whether paginor will launch automatically.</font></p> "
           "</body></html>";
}

std::string AboutVersionText() {
    return std::string("Version : ") + kVersionText;
}

std::string AboutReleaseDateText() {
    return std::string("Release date: ") + kReleaseDateText;
}

}  // namespace paginor
