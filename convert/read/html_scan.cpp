#include "convert/read/html_scan.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/text_scan.h"

namespace paginor {

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool EqualNoCase(const char* text, std::string_view keyword) {
    for (std::size_t i = 0; i < keyword.size(); ++i) {
        if (FoldCase(text[i]) != FoldCase(keyword[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsTagNamed(const char* lt, const char* end, std::string_view name) {
    if (end - lt < static_cast<std::ptrdiff_t>(name.size()) + 1 || *lt != '<' ||
        !EqualNoCase(lt + 1, name)) {
        return false;
    }
    const char* after = lt + 1 + name.size();
    return after == end || *after == '>' || *after == '/' || IsSpace(*after);
}

const char* FindOpenTag(const char* start, const char* end, std::string_view name) {
    for (const char* p = start; p < end; ++p) {
        if (*p == '<' && IsTagNamed(p, end, name)) {
            return p;
        }
    }
    return nullptr;
}

const char* FindTagClose(const char* lt, const char* end) {
    for (const char* p = lt + 1; p < end; ++p) {
        if (*p == '>') {
            return p;
        }
    }
    return nullptr;
}

const char* FindTableClose(const char* open, const char* end) {
    int depth = 0;
    for (const char* p = open + 1; p < end; ++p) {
        if (*p != '<') {
            continue;
        }
        if (end - p >= 4 && std::string_view(p, 4) == "<!--") {
            const std::string_view rest(p + 4, static_cast<std::size_t>(end - p - 4));
            const std::size_t close = rest.find("-->");
            if (close == std::string_view::npos) {
                return nullptr;
            }
            p += 4 + close + 2;
        } else if (IsTagNamed(p, end, "table")) {
            ++depth;
        } else if (IsTagNamed(p, end, "/table")) {
            if (depth == 0) {
                return p;
            }
            --depth;
        }
    }
    return nullptr;
}

bool FindAttribute(const char* tagStart, const char* tagEnd, std::string_view name,
                   TagAttribute* attribute) {
    if (tagStart == nullptr || tagEnd == nullptr || tagEnd <= tagStart) {
        return false;
    }
    const char* p = tagStart + 1;
    while (p < tagEnd && !IsSpace(*p) && *p != '/' && *p != '>') {
        ++p;
    }
    // The attributes one by one, as HTML reads them: a value in double quotes, in single quotes
    // or up to a blank or the tag's end; the first of equal names counts.
    while (p < tagEnd) {
        while (p < tagEnd && (IsSpace(*p) || *p == '/')) {
            ++p;
        }
        if (p >= tagEnd || *p == '>') {
            break;
        }
        const char* nameStart = p++;  // a '=' first belongs to the name
        while (p < tagEnd && !IsSpace(*p) && *p != '/' && *p != '>' && *p != '=') {
            ++p;
        }
        const auto nameLength = static_cast<std::size_t>(p - nameStart);
        while (p < tagEnd && IsSpace(*p)) {
            ++p;
        }
        TagAttribute found;
        if (p < tagEnd && *p == '=') {
            ++p;
            while (p < tagEnd && IsSpace(*p)) {
                ++p;
            }
            const char* v = p;
            if (p < tagEnd && (*p == '"' || *p == '\'')) {
                found.quote = *p;
                v = ++p;
                while (v < tagEnd && *v != found.quote) {
                    ++v;
                }
                found.closed = v < tagEnd;
            } else {
                while (v < tagEnd && !IsSpace(*v) && *v != '>') {
                    ++v;
                }
            }
            found.value = std::string_view(p, static_cast<std::size_t>(v - p));
            p = found.closed && found.quote != 0 ? v + 1 : v;
        }
        if (nameLength == name.size() && EqualNoCase(nameStart, name)) {
            *attribute = found;
            return true;
        }
    }
    return false;
}

bool FindAttribute(const char* tagStart, const char* tagEnd, std::string_view name,
                   std::string_view* value) {
    TagAttribute attribute;
    if (!FindAttribute(tagStart, tagEnd, name, &attribute)) {
        return false;
    }
    *value = attribute.value;
    return true;
}

std::int32_t ParseDigits(std::string_view text, std::int32_t limit) {
    if (text.empty()) {
        return -1;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = std::min<std::int64_t>(value * 10 + (c - '0'), limit);
    }
    return static_cast<std::int32_t>(value);
}

CellSpanAlign ParseCellSpanAlign(const char* tagStart, const char* tagEnd, bool rightToLeft) {
    constexpr std::int32_t kSpanLimit = 65535;
    CellSpanAlign result;
    std::string_view value;
    if (FindAttribute(tagStart, tagEnd, "colspan", &value)) {
        const std::int32_t span = ParseDigits(value, kSpanLimit);
        if (span >= 1) {
            result.columnSpan = span;
        }
    }
    if (FindAttribute(tagStart, tagEnd, "rowspan", &value)) {
        const std::int32_t span = ParseDigits(value, kSpanLimit);
        if (span >= 1) {
            result.rowSpan = span;
        }
    }
    if (FindAttribute(tagStart, tagEnd, "align", &value)) {
        auto is = [&](std::string_view word) {
            return value.size() == word.size() && EqualNoCase(value.data(), word);
        };
        if (is("right")) {
            result.alignment = rightToLeft ? 1 : 3;
        } else if (is("center") || is("middle")) {
            result.alignment = 2;
        } else if (is("left")) {
            result.alignment = rightToLeft ? 3 : 1;
        }
    }
    return result;
}

std::int32_t ParseWidthAttribute(const char* tagStart, const char* tagEnd, bool* percent) {
    if (percent != nullptr) {
        *percent = false;
    }
    std::string_view value;
    if (!FindAttribute(tagStart, tagEnd, "width", &value)) {
        return -1;
    }
    if (!value.empty() && value.back() == '%') {
        value.remove_suffix(1);
        if (percent != nullptr) {
            *percent = true;
        }
    }
    return ParseDigits(value, 2 * 1000 * 1000 * 1000);
}

namespace {

// A size in pixels as tenths of a point; "px" is accepted, a percentage counts as missing.
bool ParseImageSize(std::string_view value, std::int32_t* tenths) {
    *tenths = 0;
    if (value.empty() || value.back() == '%') {
        return true;
    }
    if (value.size() > 2 && EqualNoCase(value.data() + value.size() - 2, "px")) {
        value.remove_suffix(2);
    }
    std::string number;
    for (char c : value) {
        if ((c < '0' || c > '9') && c != '.' && c != ',' && c != '-') {
            return false;
        }
        number.push_back(c == ',' ? '.' : c);
    }
    const double pixels = std::strtod(number.c_str(), nullptr);
    *tenths = static_cast<std::int32_t>(std::lround(std::clamp(pixels, 0.0, 100000.0) * 7.5));
    return true;
}

}  // namespace

ImageParse ParseImgTag(const char* start, const char* end, ImageInfo* image) {
    for (const char* p = FindOpenTag(start, end, "img"); p != nullptr;
         p = FindOpenTag(p + 1, end, "img")) {
        const char* close = FindTagClose(p, end);
        const char* tagEnd = close == nullptr ? end : close;
        std::string_view value;
        if (!FindAttribute(p, tagEnd, "src", &value)) {
            continue;
        }
        image->source = value;
        if (FindAttribute(p, tagEnd, "width", &value) &&
            !ParseImageSize(value, &image->widthTenths)) {
            return ImageParse::BadWidth;
        }
        if (FindAttribute(p, tagEnd, "height", &value) &&
            !ParseImageSize(value, &image->heightTenths)) {
            return ImageParse::BadHeight;
        }
        return ImageParse::Found;
    }
    return ImageParse::None;
}

const char* FindNoCaseInRangeLen(const char* start, const char* end, std::string_view keyword,
                                 std::int32_t* count, std::int32_t limit) {
    const char* first = nullptr;
    std::int32_t found = 0;
    if (!keyword.empty()) {
        for (const char* p = start;
             p + static_cast<std::ptrdiff_t>(keyword.size()) <= end && found != limit; ++p) {
            if (EqualNoCase(p, keyword)) {
                if (first == nullptr) {
                    first = p;
                }
                ++found;
            }
        }
    }
    if (count != nullptr) {
        *count = found;
    }
    return first;
}

}  // namespace paginor
