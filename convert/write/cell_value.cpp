#include "convert/write/cell_value.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstddef>

namespace paginor {

namespace {

constexpr std::size_t kMaxDetectLength = 256;
constexpr std::size_t kMaxIntegerDigits = 15;
constexpr std::size_t kMaxDecimals = 30;
// Workbooks count days from 1900 on: an earlier date cannot be a date value in one.
constexpr std::string_view kEarliestDate = "1900-01-01T00:00:00.000";

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Digits only, at most 9 of them: the callers check lengths first.
std::int32_t toNumber(std::string_view digits) {
    std::int32_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

void appendPadded(std::string& out, std::int32_t value, int width) {
    std::array<char, 16> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), value).ptr;
    const auto length = static_cast<int>(end - digits.data());
    out.append(static_cast<std::size_t>(std::max(0, width - length)), '0');
    out.append(digits.data(), end);
}

bool isLeapYear(std::int32_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// A day or month of 0, 31 April or 29 February of a common year are no dates.
bool isCalendarDate(std::int32_t year, std::int32_t month, std::int32_t day) {
    static constexpr std::array<std::int32_t, 12> kDays = {31, 29, 31, 30, 31, 30,
                                                           31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) {
        return false;
    }
    if (month == 2 && day == 29) {
        return isLeapYear(year);
    }
    return day <= kDays[static_cast<std::size_t>(month - 1)];
}

void setDate(tagCellDetectResult& result, std::int32_t year, std::int32_t month, std::int32_t day,
             std::string format) {
    result.value.clear();
    appendPadded(result.value, year, 4);
    result.value += '-';
    appendPadded(result.value, month, 2);
    result.value += '-';
    appendPadded(result.value, day, 2);
    result.value += "T00:00:00.000";
    result.format = std::move(format);
    result.kind = kCellKindDate;
    result.detected = true;
}

// Two-digit years: below 50 in this century, else in the last.
std::int32_t expandYear(std::string_view digits) {
    const std::int32_t year = toNumber(digits);
    if (digits.size() == 2 && year < 100) {
        return year < 50 ? 2000 + year : 1900 + year;
    }
    return year;
}

// The scan over the marks from the right. range restricts it to '.' and ',' and gives 3 where
// the cell scan gives 4.
std::int32_t scanSeparators(std::string_view text, bool range) {
    const std::int32_t bad = range ? 3 : 4;
    std::ptrdiff_t rightmost = -1;
    std::ptrdiff_t previous = -1;
    char candidate = 0;
    int marks = 0;
    for (auto i = static_cast<std::ptrdiff_t>(text.size()) - 1; i >= 0; --i) {
        const char c = text[static_cast<std::size_t>(i)];
        if (isDigit(c)) {
            continue;
        }
        if (range && c != '.' && c != ',') {
            return 0;
        }
        if (rightmost < 0) {
            rightmost = previous = i;
            marks = 1;
            continue;
        }
        if (previous - i != 4) {
            return bad;
        }
        if (marks == 1) {
            candidate = c;
        } else if (c != candidate) {
            return bad;
        }
        previous = i;
        ++marks;
    }
    if (rightmost < 0) {
        return 0;
    }
    const auto at = static_cast<std::size_t>(rightmost);
    const char mark = text[at];
    const auto digitsAfter = text.size() - 1 - at;
    const auto dots = std::count(text.begin(), text.end(), '.');
    const auto commas = std::count(text.begin(), text.end(), ',');
    const bool more = marks > 1;
    const bool candidateBefore = at >= 4 && text[at - 4] == candidate;
    if (digitsAfter == 3) {
        if (mark == '.') {
            if (more) {
                return dots == 1 ? 2 : (commas == 0 ? 1 : 0);
            }
            return at > 3 || text.starts_with("0.") ? 2 : 0;
        }
        if (mark == ',') {
            if (more) {
                return commas == 1 ? 1 : (dots > 0 ? 0 : 2);
            }
            return at > 3 || text.starts_with("0,") ? 1 : 0;
        }
        return 0;
    }
    if (mark == '.') {
        if (dots > 1) {
            return bad;
        }
        return !more || candidateBefore ? 2 : bad;
    }
    if (mark == ',') {
        if (commas > 1) {
            return bad;
        }
        if (!more) {
            return 1;
        }
        if (!candidateBefore) {
            return bad;
        }
        if (candidate == '.') {
            return 1;
        }
        return candidate == ' ' || range ? 3 : bad;
    }
    return 0;
}

// The decimal mark of a number style.
char decimalMarkOf(std::int32_t style) {
    return style == 1 || style == 3 ? ',' : '.';
}

}  // namespace

void tagCellDetectOptions::Reset() {
    numberStyle = 0;
    dateOrder = 0;
}

void tagCellDetectOptions::SetDefaults() {
    if (numberStyle == 0) {
        numberStyle = 2;
    }
    if (dateOrder == 0) {
        dateOrder = 1;
    }
}

bool tagCellDetectOptions::IsSet() const {
    return numberStyle != 0 && dateOrder != 0;
}

tagCellDetectOptions FoldConventions(const tagCellDetectOptions& before,
                                     const tagCellDetectOptions& batch) {
    tagCellDetectOptions after = before;
    if (after.numberStyle == 0) {
        after.numberStyle = batch.numberStyle;
    }
    if (after.dateOrder == 0) {
        after.dateOrder = batch.dateOrder;
    }
    return after;
}

bool CCellValueDetector::IsDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), isDigit);
}

bool CCellValueDetector::IsNumber(std::string_view text) {
    return IsDigits(text);
}

std::int32_t CCellValueDetector::MonthFromName(std::string_view name) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (name.size() != 3) {
        return 0;
    }
    std::string lower(name);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; });
    for (std::size_t m = 0; m < kMonths.size(); ++m) {
        if (lower == kMonths[m]) {
            return static_cast<std::int32_t>(m + 1);
        }
    }
    return 0;
}

std::int32_t CCellValueDetector::DetectSeparators(std::string_view text) {
    return scanSeparators(text, false);
}

std::int32_t CCellValueDetector::DetectNumberFormat(std::string_view text) {
    bool parenthesised = false;
    bool signed_ = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+' || text.front() == '(')) {
        parenthesised = text.front() == '(';
        signed_ = true;
        text.remove_prefix(1);
    }
    if (text.size() >= 2 && text[0] == '0' && isDigit(text[1])) {
        return 4;
    }
    if (!text.empty() && text.back() == ')') {
        if (!parenthesised) {
            return 4;
        }
        text.remove_suffix(1);
    }
    bool digit = false;
    for (const char c : text) {
        if (isDigit(c)) {
            digit = true;
        } else if (c != '.' && c != ',' && c != ' ') {
            return 4;
        }
    }
    if (!digit) {
        return 4;
    }
    if (!signed_ && IsDigits(text) && text.size() > kMaxIntegerDigits) {
        return 4;
    }
    return DetectSeparators(text);
}

bool CCellValueDetector::DetectNumber(std::string_view text, tagCellDetectResult& result) {
    result.detected = false;
    const bool dollar = !text.empty() && text.front() == '$';
    if (dollar) {
        text.remove_prefix(1);
        while (!text.empty() && text.front() == ' ') {
            text.remove_prefix(1);
        }
        if (text.empty()) {
            result.kind = kCellKindText;
            return true;
        }
    }
    const std::int32_t code = DetectNumberFormat(text);
    if (code == 4) {
        return false;
    }
    std::int32_t style = code;
    if (code == 0) {
        style = m_options.numberStyle;
        if (style == 0) {
            if (!IsNumber(text)) {
                result.kind = kCellKindText;
                return true;
            }
            style = 2;
        }
    } else if (m_options.numberStyle == 0) {
        m_options.numberStyle = code;
    } else if (decimalMarkOf(code) != decimalMarkOf(m_options.numberStyle)) {
        // Marks the export's numbers use the other way round ("12,34" where ',' groups
        // thousands): no reading of it is safe.
        result.kind = kCellKindText;
        return true;
    }
    m_decimalMark = decimalMarkOf(style);
    m_thousandsMark = style == 1 ? '.' : (style == 3 ? ' ' : ',');

    bool negative = false;
    if (text.front() == '-' || text.front() == '+') {
        negative = text.front() == '-';
        text.remove_prefix(1);
    } else if (text.size() >= 3 && text.front() == '(' && text.back() == ')') {
        negative = true;
        text = text.substr(1, text.size() - 2);
    }
    std::ptrdiff_t decimal = -1;
    bool thousands = false;
    std::size_t digits = 0;
    std::size_t significant = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (isDigit(c)) {
            ++digits;
            significant += significant > 0 || c != '0' ? 1 : 0;
        } else if (c == m_decimalMark && decimal < 0) {
            decimal = static_cast<std::ptrdiff_t>(i);
        } else if (c == m_thousandsMark && decimal < 0) {
            thousands = true;
        } else {
            return false;
        }
    }
    // A double holds 15 significant digits: longer numbers would be rounded.
    if (digits == 0 || significant > kMaxIntegerDigits) {
        return false;
    }
    // Thousands marks stand every fourth byte back from the decimal mark (or the end), and
    // nowhere else.
    if (thousands) {
        const auto groupEnd = decimal >= 0 ? decimal : static_cast<std::ptrdiff_t>(text.size());
        for (std::ptrdiff_t i = 0; i < groupEnd; ++i) {
            const bool markPlace = (groupEnd - i) % 4 == 0;
            if ((text[static_cast<std::size_t>(i)] == m_thousandsMark) != (markPlace && i > 0)) {
                return false;
            }
        }
    }
    std::string format;
    if (decimal >= 0) {
        const auto after = text.size() - 1 - static_cast<std::size_t>(decimal);
        // A number format shows at most 30 decimals.
        if (after == 0 || after > kMaxDecimals) {
            return false;
        }
        format = thousands ? "#,##0." : "0.";
        format.append(after, '0');
        format += "_ ";
    } else {
        format = thousands ? "#,##0_ " : "0_ ";
    }
    std::string value = negative ? "-" : "";
    for (const char c : text) {
        if (c == m_thousandsMark) {
            continue;
        }
        value += c == m_decimalMark ? '.' : c;
    }
    result.kind = kCellKindNumber;
    result.value = std::move(value);
    result.format = dollar ? "$" + format : std::move(format);
    result.detected = true;
    return true;
}

bool CCellValueDetector::DetectDate(std::string_view text, tagCellDetectResult& result) {
    int slashes = 0;
    int dots = 0;
    int dashes = 0;
    for (const char c : text) {
        if (c == '/') {
            ++slashes;
        } else if (c == '.') {
            ++dots;
        } else if (c == '-') {
            ++dashes;
        } else if (!isDigit(c)) {
            return DetectMonthNameDate(text, result);
        }
    }
    char separator = 0;
    if (slashes == 2 && dots == 0 && dashes == 0) {
        separator = '/';
    } else if (dots == 2 && slashes == 0 && dashes == 0) {
        separator = '.';
    } else if (dashes == 2 && slashes == 0 && dots == 0) {
        separator = '-';
    } else {
        return false;
    }
    const auto first = text.find(separator);
    const auto second = text.find(separator, first + 1);
    const std::string_view p1 = text.substr(0, first);
    const std::string_view p2 = text.substr(first + 1, second - first - 1);
    const std::string_view p3 = text.substr(second + 1);
    if (p1.empty() || p2.empty() || p3.empty()) {
        return false;
    }
    const std::string sep(1, separator);
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::int32_t day = 0;
    std::string format;
    if (separator != '/') {
        if (p3.size() == 4 && p1.size() <= 2 && p2.size() <= 2) {
            day = toNumber(p1);
            month = toNumber(p2);
            year = toNumber(p3);
            format = "dd" + sep + "mm" + sep + "yyyy";
        } else if (p1.size() == 4 && p2.size() <= 2 && p3.size() <= 2) {
            year = toNumber(p1);
            month = toNumber(p2);
            day = toNumber(p3);
            format = "yyyy" + sep + "mm" + sep + "dd";
        } else {
            return false;
        }
    } else {
        if ((p3.size() != 4 && p3.size() != 2) || p1.size() > 2 || p2.size() > 2) {
            return false;
        }
        const std::int32_t a = toNumber(p1);
        const std::int32_t b = toNumber(p2);
        year = expandYear(p3);
        const std::string yearFormat = p3.size() == 2 ? "yy" : "yyyy";
        std::int32_t order = 0;
        if (a >= 13 && b >= 1 && b <= 12) {
            order = 2;
        } else if (a >= 1 && a <= 12 && b > 12) {
            order = 1;
        } else if (a > 12 && b > 12) {
            return false;
        } else {
            order = m_options.dateOrder;
            if (order == 0) {
                result.kind = kCellKindDate;
                result.value.clear();
                result.format.clear();
                result.detected = false;
                return true;
            }
        }
        if (m_options.dateOrder == 0) {
            m_options.dateOrder = order;
        }
        if (order == 2) {
            day = a;
            month = b;
            format = "dd/mm/" + yearFormat;
        } else {
            month = a;
            day = b;
            format = "mm/dd/" + yearFormat;
        }
    }
    if (!isCalendarDate(year, month, day)) {
        return false;
    }
    setDate(result, year, month, day, std::move(format));
    return true;
}

bool CCellValueDetector::DetectMonthNameDate(std::string_view text, tagCellDetectResult& result) {
    if (text.size() >= kMaxDetectLength || std::count(text.begin(), text.end(), '-') != 2) {
        return false;
    }
    for (const char c : text) {
        if (c != '-' && !isDigit(c) && !isLetter(c)) {
            return false;
        }
    }
    const auto first = text.find('-');
    const auto second = text.find('-', first + 1);
    const std::string_view dayText = text.substr(0, first);
    const std::string_view monthText = text.substr(first + 1, second - first - 1);
    const std::string_view yearText = text.substr(second + 1);
    if (!IsDigits(dayText) || dayText.size() > 2 || !IsDigits(yearText) ||
        (yearText.size() != 2 && yearText.size() != 4)) {
        return false;
    }
    const std::int32_t month = MonthFromName(monthText);
    const std::int32_t day = toNumber(dayText);
    const std::int32_t year = expandYear(yearText);
    if (month == 0 || !isCalendarDate(year, month, day)) {
        return false;
    }
    setDate(result, year, month, day, yearText.size() == 2 ? "dd-mmm-yy" : "dd-mmm-yyyy");
    return true;
}

void CCellValueDetector::Detect(std::string_view text, tagCellDetectResult& result) {
    result = tagCellDetectResult{};
    // Blanks around a value are no part of it, whichever writer reads it.
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    if (text.empty() || text.size() >= kMaxDetectLength) {
        return;
    }
    if (DetectNumber(text, result)) {
        return;
    }
    result = tagCellDetectResult{};
    if (DetectDate(text, result)) {
        if (!result.value.empty() && std::string_view(result.value) < kEarliestDate) {
            result = tagCellDetectResult{};
            result.detected = true;
        }
        return;
    }
    result = tagCellDetectResult{};
    result.detected = true;
}

void ReadCellValue(std::string_view text, const tagCellDetectOptions& conventions,
                   tagCellDetectResult& result) {
    CCellValueDetector detector;
    detector.options() = conventions;
    detector.Detect(text, result);
}

std::int32_t DetectNumberSeparatorsInRange(const char* start, const char* end) {
    if (start == nullptr || end == nullptr || end < start) {
        return 0;
    }
    return scanSeparators(std::string_view(start, static_cast<std::size_t>(end - start) + 1), true);
}

}  // namespace paginor
