#include "convert/write/xlsx/entry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "convert/write/excel_automation.h"
#include "platform/file.h"

namespace paginor::xlsx {

std::int32_t toRgb(std::int32_t bgr) {
    const auto c = static_cast<std::uint32_t>(bgr);
    return static_cast<std::int32_t>(((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF));
}

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

bool parseCell(std::string_view text, std::int32_t& row, std::int32_t& column) {
    std::size_t i = 0;
    std::int64_t c = 0;
    while (i < text.size() && i < 4) {
        char ch = text[i];
        if (ch >= 'a' && ch <= 'z') {
            ch = static_cast<char>(ch - 32);
        }
        if (ch < 'A' || ch > 'Z') {
            break;
        }
        c = c * 26 + (ch - 'A' + 1);
        ++i;
    }
    if (i == 0 || i == text.size() || i + 8 < text.size()) {
        return false;
    }
    std::int64_t r = 0;
    for (std::size_t j = i; j < text.size(); ++j) {
        if (!isDigit(text[j])) {
            return false;
        }
        r = r * 10 + (text[j] - '0');
    }
    if (r < 1 || r > kMaxRows || c > kMaxColumns) {
        return false;
    }
    row = static_cast<std::int32_t>(r - 1);
    column = static_cast<std::int32_t>(c - 1);
    return true;
}

namespace {

// A rectangle "A1" or "A1:B2", corners in either order.
bool parseItem(std::string_view item, Rect& rect) {
    const auto colon = item.find(':');
    if (!parseCell(item.substr(0, colon), rect.firstRow, rect.firstColumn)) {
        return false;
    }
    rect.lastRow = rect.firstRow;
    rect.lastColumn = rect.firstColumn;
    if (colon != std::string_view::npos &&
        !parseCell(item.substr(colon + 1), rect.lastRow, rect.lastColumn)) {
        return false;
    }
    if (rect.lastRow < rect.firstRow) {
        std::swap(rect.lastRow, rect.firstRow);
    }
    if (rect.lastColumn < rect.firstColumn) {
        std::swap(rect.lastColumn, rect.firstColumn);
    }
    return true;
}

}  // namespace

RectList parseRange(std::string_view text) {
    RectList rects;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && text[i] != ',' && text[i] != ';') {
            continue;
        }
        Rect rect{};
        const std::string_view item = text.substr(start, i - start);
        if (!parseItem(item, rect)) {
            throw AutomationError("not a cell reference: " + std::string(item));
        }
        rects.push_back(rect);
        start = i + 1;
    }
    return rects;
}

// Days since 1899-12-30 as the workbook counts them (1900 date system).
std::optional<double> serialDate(int year, int month, int day) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || year < 1900 || year > 9999) {
        return std::nullopt;
    }
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > kDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
        return std::nullopt;
    }
    // Civil days from 1970-01-01, then shifted to the workbook's epoch.
    const int y = year - (month <= 2 ? 1 : 0);
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days = static_cast<long>(era) * 146097 + doe - 719468;
    return static_cast<double>(days + 25569);
}

Entry enterText(std::string_view text) {
    Entry entry;
    std::string_view t = text;
    while (!t.empty() && t.front() == ' ') {
        t.remove_prefix(1);
    }
    while (!t.empty() && t.back() == ' ') {
        t.remove_suffix(1);
    }
    if (t.empty() || t.front() == '=') {
        return entry;
    }
    bool negative = false;
    bool dollar = false;
    bool percent = false;
    std::string_view n = t;
    if (n.size() >= 2 && n.front() == '(' && n.back() == ')') {
        negative = true;
        n = n.substr(1, n.size() - 2);
    }
    if (!n.empty() && (n.front() == '-' || n.front() == '+')) {
        negative = negative ? false : n.front() == '-';
        n.remove_prefix(1);
    }
    if (!n.empty() && n.front() == '$') {
        dollar = true;
        n.remove_prefix(1);
        if (!negative && !n.empty() && n.front() == '-') {
            negative = true;
            n.remove_prefix(1);
        }
    }
    if (!n.empty() && n.back() == '%') {
        percent = true;
        n.remove_suffix(1);
    }
    // The number's digits and point without its thousands marks, for reading it.
    std::string plain;
    plain.reserve(n.size());
    std::size_t digitCount = 0;
    std::size_t firstSignificant = std::string::npos;  // among the digits
    std::size_t lastNonZero = 0;
    bool point = false;
    bool thousands = false;
    bool numeric = !n.empty();
    std::size_t groupDigits = 0;
    std::size_t decimals = 0;
    for (std::size_t i = 0; i < n.size() && numeric; ++i) {
        const char c = n[i];
        if (isDigit(c)) {
            if (c != '0') {
                if (firstSignificant == std::string::npos) {
                    firstSignificant = digitCount;
                }
                lastNonZero = digitCount;
            }
            ++digitCount;
            ++groupDigits;
            decimals += point ? 1 : 0;
            plain += c;
        } else if (c == ',' && !point) {
            // Groups of three after the first group of one to three digits.
            numeric = (thousands ? groupDigits == 3 : groupDigits >= 1 && groupDigits <= 3);
            thousands = true;
            groupDigits = 0;
        } else if (c == '.' && !point) {
            numeric = !thousands || groupDigits == 3;
            point = true;
            plain += c;
        } else {
            numeric = false;
        }
    }
    if (numeric && thousands && !point && groupDigits != 3) {
        numeric = false;
    }
    if (numeric && digitCount > 0) {
        // Leading zeros, and trailing zeros of a fraction, are not significant.
        const std::size_t last = point ? lastNonZero : digitCount - 1;
        const std::size_t significant =
            firstSignificant == std::string::npos ? 1 : last - firstSignificant + 1;
        if (significant > kMaxSignificantDigits) {
            return entry;
        }
        // Read whatever the process's locale: the point is always the decimal mark here.
        double value = 0;
        std::from_chars(plain.data(), plain.data() + plain.size(), value);
        if (negative) {
            value = -value;
        }
        if (percent) {
            value /= 100;
        }
        entry.type = CellType::Number;
        entry.number = value;
        if (percent) {
            entry.format = decimals > 0 ? "0.00%" : "0%";
        } else if (dollar) {
            entry.format = decimals > 0 ? "\"$\"#,##0.00" : "\"$\"#,##0";
        } else if (thousands) {
            entry.format = decimals > 0 ? "#,##0.00" : "#,##0";
        }
        return entry;
    }
    // m/d/yyyy, m/d/yy, m-d-yyyy.
    int fields[3] = {0, 0, 0};
    int lengths[3] = {0, 0, 0};
    int field = 0;
    char mark = 0;
    for (const char c : t) {
        if (isDigit(c) && lengths[field] < 4) {
            fields[field] = fields[field] * 10 + (c - '0');
            ++lengths[field];
        } else if ((c == '/' || c == '-') && field < 2 && lengths[field] > 0 &&
                   (mark == 0 || mark == c)) {
            mark = c;
            ++field;
        } else {
            return entry;
        }
    }
    if (field != 2 || lengths[0] > 2 || lengths[1] > 2 || (lengths[2] != 2 && lengths[2] != 4)) {
        return entry;
    }
    int year = fields[2];
    if (lengths[2] == 2) {
        year += year < 30 ? 2000 : 1900;
    }
    if (const auto serial = serialDate(year, fields[0], fields[1])) {
        entry.type = CellType::Number;
        entry.number = *serial;
        entry.format = "m/d/yyyy";
    }
    return entry;
}

bool readPictureHead(const std::string& path, std::string& head) {
    ReadOnlyFile file;
    std::string error;
    if (!file.openRegular(path, error)) {
        return false;
    }
    head.resize(kPictureHead);
    const std::int64_t n = file.readAt(0, head.data(), static_cast<std::int64_t>(head.size()));
    head.resize(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
    return n >= 0;
}

bool imageSize(std::string_view bytes, double& width, double& height) {
    const auto* head = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    auto be16 = [&](std::size_t at) { return (head[at] << 8) | head[at + 1]; };
    auto be32 = [&](std::size_t at) {
        return (static_cast<std::uint32_t>(be16(at)) << 16) |
               static_cast<std::uint32_t>(be16(at + 2));
    };
    auto le16 = [&](std::size_t at) { return head[at] | (head[at + 1] << 8); };
    if (n >= 24 && std::memcmp(head, "\x89PNG", 4) == 0) {
        width = be32(16);
        height = be32(20);
        return width > 0 && height > 0;
    }
    if (n >= 10 && std::memcmp(head, "GIF", 3) == 0) {
        width = le16(6);
        height = le16(8);
        return width > 0 && height > 0;
    }
    if (n >= 26 && head[0] == 'B' && head[1] == 'M') {
        width = le16(18) | (le16(20) << 16);
        height = std::abs(static_cast<std::int32_t>(le16(22) | (le16(24) << 16)));
        return width > 0 && height > 0;
    }
    if (n >= 4 && head[0] == 0xFF && head[1] == 0xD8) {
        for (std::size_t at = 2; at + 9 < n;) {
            if (head[at] != 0xFF) {
                return false;
            }
            const int marker = head[at + 1];
            if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
                marker != 0xCC) {
                height = be16(at + 5);
                width = be16(at + 7);
                return width > 0 && height > 0;
            }
            at += 2 + static_cast<std::size_t>(be16(at + 2));
        }
    }
    return false;
}

}  // namespace paginor::xlsx
