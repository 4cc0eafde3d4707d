#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "core/report_core.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

constexpr std::int32_t kPageBlock = 65536;

bool startsPageBlock(std::int32_t pageNumber) {
    const std::int32_t r = pageNumber % kPageBlock;
    return pageNumber > 0 && (r == 0 || r == 1);
}

const char* skipBlanks(const char* p, const char* end) {
    while (p < end && IsBlank(*p)) {
        ++p;
    }
    return p;
}

// True when [p, end) begins with the word (ASCII letters) keyword.
bool wordAt(const char* p, const char* end, const char* keyword) {
    const std::int64_t n = static_cast<std::int64_t>(std::strlen(keyword));
    if (end - p < n || !EqualNoCaseN(p, static_cast<int>(n), keyword, static_cast<int>(n))) {
        return false;
    }
    if (end - p == n) {
        return true;
    }
    const char next = FoldCase(p[n]);
    return !(next >= 'a' && next <= 'z');
}

std::int32_t leadingInteger(const char* p, const char* end) {
    std::int64_t value = 0;
    bool negative = false;
    if (p < end && *p == '-') {
        negative = true;
        ++p;
    }
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        value = std::min<std::int64_t>(value * 10 + (*p - '0'), INT32_MAX);
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace

void BlankOutLineBreaks(char* first, char* last) {
    if (first > last) {
        std::swap(first, last);
    }
    for (char* p = first; p <= last; ++p) {
        if (*p == '\r' || *p == '\n') {
            *p = ' ';
        }
    }
}

std::int32_t CReportCore::GetTopValue(std::int64_t index, std::int32_t pageNumber) {
    char* buffer = m_tagBuffer.data();
    char* const bufferEnd = buffer + m_tagUsed;
    char* open = index < m_tagUsed
                     ? static_cast<char*>(std::memchr(buffer + index, '<',
                                                      static_cast<std::size_t>(m_tagUsed - index)))
                     : nullptr;
    if (open == nullptr) {
        return -1;
    }
    char* close = static_cast<char*>(std::memchr(open, '>', bufferEnd - open));
    if (close == nullptr) {
        return -1;
    }
    const std::string address = std::to_string(m_tagOffset + (open - buffer));
    if (std::memchr(open + 1, '<', close - open - 1) != nullptr) {
        raiseText("Syntax Error : Encounter unexpected \"<\" mark (reference address : " + address +
                  ")");
    }
    const char* p = open + 1;
    if (wordAt(p, close, "span")) {
        p += 4;
    } else if (wordAt(p, close, "div")) {
        p += 3;
    } else {
        return -1;
    }
    if (p < close && !IsBlank(*p)) {
        return -1;
    }
    BlankOutLineBreaks(open, close);

    bool positionFound = false;
    bool topFound = false;
    const char* topText = nullptr;
    const char* topEnd = nullptr;
    while (!(positionFound && topFound)) {
        p = skipBlanks(p, close);
        if (p >= close) {
            break;
        }
        const char* name = p;
        while (p < close && !IsBlank(*p) && *p != '=') {
            ++p;
        }
        const bool isStyle = p - name == 5 && EqualNoCaseN(name, 5, "style", 5);
        p = skipBlanks(p, close);
        if (isStyle) {
            if (p >= close || *p != '=') {
                raiseText("Syntax error : cannot find \"=\" after STYLE mark (address : " +
                          address + ")");
            }
            p = skipBlanks(p + 1, close);
            if (p >= close || (*p != '"' && *p != '\'')) {
                raiseText(
                    "Syntax error : Cannot find expected \" following \"STYLE=\"  (reference "
                    "address:" +
                    address + ")");
            }
            const char quote = *p;
            const char* styleStart = p + 1;
            const char* styleEnd =
                static_cast<const char*>(std::memchr(styleStart, quote, close - styleStart));
            if (styleEnd == nullptr) {
                raiseText("Syntax error : Cannot find expected \" or ' at the end (reference :" +
                          address + ")");
            }
            for (const char* d = styleStart; d < styleEnd && !(positionFound && topFound);) {
                const char* declEnd = static_cast<const char*>(std::memchr(d, ';', styleEnd - d));
                if (declEnd == nullptr) {
                    declEnd = styleEnd;
                }
                const char* word = skipBlanks(d, declEnd);
                if (!positionFound && wordAt(word, declEnd, "position")) {
                    const char* colon = skipBlanks(word + 8, declEnd);
                    if (colon >= declEnd || *colon != ':') {
                        raiseText(
                            "Syntax error :cannot find expected : following \"position\" "
                            "(address : " +
                            address + ")");
                    }
                    if (!wordAt(skipBlanks(colon + 1, declEnd), declEnd, "absolute")) {
                        raiseText(
                            "Syntax error : position property should be absolute "
                            "(address :" +
                            address + ")");
                    }
                    positionFound = true;
                } else if (!topFound && wordAt(word, declEnd, "top")) {
                    const char* colon = skipBlanks(word + 3, declEnd);
                    if (colon >= declEnd || *colon != ':') {
                        raiseText(
                            "Syntax error : cannot find expected : following \"TOP\" (address : " +
                            address + ")");
                    }
                    topText = skipBlanks(colon + 1, declEnd);
                    topEnd = declEnd;
                    while (topEnd > topText && IsBlank(topEnd[-1])) {
                        --topEnd;
                    }
                    if (topEnd - topText >= 2 && EqualNoCaseN(topEnd - 2, 2, "pt", 2)) {
                        topEnd -= 2;
                    }
                    topFound = true;
                }
                d = declEnd + 1;
            }
            p = styleEnd + 1;
            break;
        }
        if (p < close && *p == '=') {
            p = skipBlanks(p + 1, close);
            if (p < close && (*p == '"' || *p == '\'')) {
                const char quote = *p;
                const char* valueEnd =
                    static_cast<const char*>(std::memchr(p + 1, quote, close - p - 1));
                if (valueEnd == nullptr) {
                    raiseText(
                        quote == '"'
                            ? "Syntax error : cannot find expected \" at the end  (address: " +
                                  address + ")"
                            : "Syntax error : cannot find expected ' at the end  (address: " +
                                  address + ")");
                }
                p = valueEnd + 1;
            } else {
                while (p < close && !IsBlank(*p)) {
                    ++p;
                }
            }
        }
    }
    if (!topFound) {
        m_topValueIndex = -1;
        m_topValueLength = 0;
        return -1;
    }
    const int length = static_cast<int>(topEnd - topText);
    const bool accepted = (startsPageBlock(pageNumber) ? IsSignedNumberText(topText, length)
                                                       : IsNumberText(topText, length)) ||
                          (length == 2 && topText[0] == '-' && topText[1] == '1');
    if (!accepted || length == 0) {
        raiseText("Unrecognizable TOP value,(reference address : " + address +
                  ") TOP:" + std::string(topText, topEnd));
    }
    m_topValueIndex = topText - buffer;
    m_topValueLength = length;
    return leadingInteger(topText, topEnd);
}

std::int32_t CReportCore::GetTopValueAtPage() {
    for (std::int64_t i = m_tagUsed - 1; i >= 0; --i) {
        const char* p = m_tagBuffer.data() + i;
        if (*p != '<') {
            continue;
        }
        const char* end = m_tagBuffer.data() + m_tagUsed;
        if (!wordAt(p + 1, end, "div") && !wordAt(p + 1, end, "span")) {
            continue;
        }
        std::int32_t top = GetTopValue(i);
        if (top != -1) {
            return top;
        }
    }
    raiseText("Can not get TOP value (reference address :" + std::to_string(m_tagOffset) + ")");
}

bool CReportCore::GetPageHeight(std::int32_t* result) {
    *result = 0;
    if (m_format != ReportFormat::HtmlCss || m_pageTable.empty()) {
        return false;
    }
    if (m_pageTable.size() == 1) {
        std::int64_t length = m_pageTable[0].length;
        CopyToStringBuffer(m_pageTable[0].start, '\0', length);
        *result = GetTopValueAtPage() + 1;
    } else {
        std::int64_t length = 0;
        CopyToStringBuffer(m_pageTable[1].start, '>', length);
        *result = GetTopValue(0, 2);
    }
    return true;
}

bool CReportCore::CheckTopValues() {
    const std::int32_t count = static_cast<std::int32_t>(m_pageTable.size());
    std::int32_t previous = 0;
    std::int32_t beforePrevious = 0;
    std::int32_t top = 0;
    for (std::int32_t q = 1; q <= count; ++q) {
        std::int64_t length = 0;
        CopyToStringBuffer(m_pageTable[static_cast<std::size_t>(q - 1)].start, '>', length);
        top = GetTopValue(0, q);
        const std::int32_t r = q % kPageBlock;
        if ((r == 0 || r == 1) && top != 0) {
            return false;
        }
        if (r >= 3 &&
            std::llabs(static_cast<long long>(top) - 2LL * previous + beforePrevious) >= 2) {
            return false;
        }
        beforePrevious = previous;
        previous = top;
    }
    if (count % kPageBlock >= 3) {
        std::int64_t length = m_pageTable.front().length;
        CopyToStringBuffer(m_pageTable.front().start, '\0', length);
        const std::int64_t firstEnd = GetTopValueAtPage();
        length = m_pageTable.back().length;
        CopyToStringBuffer(m_pageTable.back().start, '\0', length);
        const std::int64_t lastEnd = GetTopValueAtPage();
        if (std::llabs((lastEnd - firstEnd) - top) > 1) {
            return false;
        }
    }
    return true;
}

}  // namespace paginor
