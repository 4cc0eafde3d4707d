#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/settings_install.h"

namespace paginor {

class SettingsStore;
struct SettingValue;

// Placeholders, settable at build time.
#ifndef PAGINOR_ONLINE_MANUAL_URL
#define PAGINOR_ONLINE_MANUAL_URL "https://www.example.com/paginor/manual.htm"
#endif
#ifndef PAGINOR_MAKER_URL
#define PAGINOR_MAKER_URL "https://www.example.com/"
#endif
inline constexpr const char kOnlineManualUrl[] = PAGINOR_ONLINE_MANUAL_URL;
inline constexpr const char kMakerUrl[] = PAGINOR_MAKER_URL;
// The address the Test URL dialog opens with.
std::string ExampleReportUrl();

// Get PDF Output: the servlet address built from the report's own, or the message that refuses.
struct PdfOutputUrl {
    bool ok = false;
    std::string text;  // the address, or the message
};
inline constexpr std::size_t kMaxPdfParameters = 64;
inline constexpr std::size_t kMaxPdfParameterBytes = 1024;
PdfOutputUrl GetPdfOutputUrl(std::string_view reportUrl, std::string_view supportAddress);

// The keyword edits of one group: a value split at TAB into at most five, empty ones keeping
// their place.
inline constexpr std::size_t kKeywordEdits = 5;
inline constexpr std::size_t kMaxKeywordChars = 199;  // one edit
using KeywordEdits = std::array<std::string, kKeywordEdits>;
KeywordEdits SplitKeywords(std::string_view value);
// The non-empty edits joined with TAB.
std::string JoinKeywords(const KeywordEdits& edits);

// The keyword value of a group ("keywords" .. "keywords4"); null for another name.
const SettingValue* KeywordGroupValue(std::string_view group);
// Reads the edits and the print-directly box of a group.
KeywordEdits LoadKeywords(const SettingsStore& settings, const SettingValue& group,
                          bool& printDirectly);
// Writes the joined edits, and "print_directly" only when the box changed. False with the
// message when the joined text would not be read back whole or a write fails.
bool SaveKeywords(SettingsStore& settings, const SettingValue& group, const KeywordEdits& edits,
                  bool printDirectly, bool printDirectlyWhenOpened, std::string& message);
inline constexpr const char kKeywordTestQuestion[] =
    "Would you like to test whether the keywords you have setup wokes or not?";

// Test URL: the message that refuses the address, empty when it passes. The keywords are the
// group's value (empty items skipped, at most five); each must occur in the address.
std::string CheckTestUrl(std::string_view url, std::string_view keywordValue);
// The test page, with the address made safe for the attribute.
std::string TestUrlPage(std::string_view url);
inline constexpr const char kTestUrlPageName[] = "paginor-testurl.htm";
// Reads a group's keywords as the test does (300 bytes).
std::string ReadTestKeywords(const SettingsStore& settings, const SettingValue& group);

// "http://" or "https://", either case.
bool IsWebAddress(std::string_view url);

// The About box's two lines.
std::string AboutVersionText();
std::string AboutReleaseDateText();

}  // namespace paginor
