#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "core/report_core.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

constexpr std::int32_t kPageBlock = CReportCore::kPageBlock;

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
    // The tag's file offset, spelled out only when an error quotes it.
    const auto address = [&] { return std::to_string(m_tagOffset + (open - buffer)); };
    if (std::memchr(open + 1, '<', close - open - 1) != nullptr) {
        raiseText("Syntax Error : Encounter unexpected \"<\" mark (reference address : " +
                  address() + ")");
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
                          address() + ")");
            }
            p = skipBlanks(p + 1, close);
            if (p >= close || (*p != '"' && *p != '\'')) {
                raiseText(
                    "Syntax error : Cannot find expected \" following \"STYLE=\"  (reference "
                    "address:" +
                    address() + ")");
            }
            const char quote = *p;
            const char* styleStart = p + 1;
            const char* styleEnd =
                static_cast<const char*>(std::memchr(styleStart, quote, close - styleStart));
            if (styleEnd == nullptr) {
                raiseText("Syntax error : Cannot find expected \" or ' at the end (reference :" +
                          address() + ")");
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
                            address() + ")");
                    }
                    if (!wordAt(skipBlanks(colon + 1, declEnd), declEnd, "absolute")) {
                        raiseText(
                            "Syntax error : position property should be absolute "
                            "(address :" +
                            address() + ")");
                    }
                    positionFound = true;
                } else if (!topFound && wordAt(word, declEnd, "top")) {
                    const char* colon = skipBlanks(word + 3, declEnd);
                    if (colon >= declEnd || *colon != ':') {
                        raiseText(
                            "Syntax error : cannot find expected : following \"TOP\" (address : " +
                            address() + ")");
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
                                  address() + ")"
                            : "Syntax error : cannot find expected ' at the end  (address: " +
                                  address() + ")");
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
        raiseText("Unrecognizable TOP value,(reference address : " + address() +
                  ") TOP:" + std::string(topText, topEnd));
    }
    m_topValueIndex = topText - buffer;
    m_topValueLength = length;
    return leadingInteger(topText, topEnd);
}

std::int32_t CReportCore::GetTopValueAtPage(bool* fullyPlaced) {
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
            if (fullyPlaced != nullptr) {
                std::int64_t divStart = -1;
                std::int64_t divEnd = -1;
                std::int32_t divTop = -1;
                *fullyPlaced = wordAt(p + 1, end, "div") &&
                               ParseDivLayout(p, &divStart, &divEnd, &divTop, -1) == 0 &&
                               divStart >= 0 && divEnd >= 0;
            }
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
        // A TOP at the end of the range cannot grow by one.
        *result = static_cast<std::int32_t>(
            std::min<std::int64_t>(std::int64_t{GetTopValueAtPage()} + 1, INT32_MAX));
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
    // The TOPs the mark scan read spare a second pass over the file.
    std::vector<std::int32_t> scanned;
    scanned.swap(m_firstTops);
    if (scanned.size() != m_pageTable.size()) {
        scanned.clear();
    }
    for (std::int32_t q = 1; q <= count; ++q) {
        const auto index = static_cast<std::size_t>(q - 1);
        if (index < scanned.size() && scanned[index] != kTopNotRead) {
            top = scanned[index];
        } else {
            std::int64_t length = 0;
            CopyToStringBuffer(m_pageTable[index].start, '>', length);
            top = GetTopValue(0, q);
        }
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

namespace {

// Counts text characters of HTML: bytes 33..127 outside tags and comments. Pages are not always
// well formed, so nothing raises: a stray '>' is text and a '<' inside a tag starts it anew.
class TextCharCounter {
public:
    // Feeds [p, end); stops early once enough (> 0) characters are counted.
    void feed(const char* p, const char* end, std::int64_t enough) {
        for (; p < end; ++p) {
            const auto byte = static_cast<unsigned char>(*p);
            switch (m_state) {
                case State::Text:
                    if (byte == '<') {
                        m_state = State::Open;
                    } else if (byte >= 33 && byte <= 127) {
                        ++m_count;
                        if (enough > 0 && m_count >= enough) {
                            return;
                        }
                    }
                    break;
                case State::Open:
                    m_state = byte == '!' ? State::Bang : tagState(byte);
                    break;
                case State::Bang:
                    m_state = byte == '-' ? State::BangDash : tagState(byte);
                    break;
                case State::BangDash:
                    m_state = byte == '-' ? State::Comment : tagState(byte);
                    m_dashes = 0;
                    break;
                case State::Tag:
                    m_state = tagState(byte);
                    break;
                case State::Comment:
                    if (byte == '>' && m_dashes >= 2) {
                        m_state = State::Text;
                    }
                    m_dashes = byte == '-' ? m_dashes + 1 : 0;
                    break;
            }
        }
    }
    std::int64_t count() const { return m_count; }

private:
    enum class State { Text, Open, Bang, BangDash, Tag, Comment };

    static State tagState(unsigned char byte) {
        if (byte == '>') {
            return State::Text;
        }
        return byte == '<' ? State::Open : State::Tag;
    }

    State m_state = State::Text;
    int m_dashes = 0;
    std::int64_t m_count = 0;
};

bool beginsDivTag(const char* tag, const char* close) {
    return close - tag >= 4 && EqualNoCaseN(tag, 4, "<div", 4) &&
           (IsBlank(tag[4]) || tag[4] == '>');
}

const char* findInRange(const char* p, const char* end, char c) {
    return p < end ? static_cast<const char*>(std::memchr(p, c, static_cast<std::size_t>(end - p)))
                   : nullptr;
}

// The declarations of one style value, checked against what a positioned div may hold.
struct DivStyle {
    bool position = false;
    bool top = false;
    bool side = false;
    const char* topText = nullptr;
    const char* topEnd = nullptr;

    bool read(const char* value, const char* valueEnd) {
        for (const char* d = value; d < valueEnd;) {
            const char* declEnd = findInRange(d, valueEnd, ';');
            if (declEnd == nullptr) {
                declEnd = valueEnd;
            }
            if (!readDeclaration(skipBlanks(d, declEnd), declEnd)) {
                return false;
            }
            d = declEnd + 1;
        }
        return true;
    }

private:
    // The text behind "name :", or null without the colon.
    static const char* afterColon(const char* name, std::size_t length, const char* end) {
        const char* colon = skipBlanks(name + length, end);
        return colon < end && *colon == ':' ? skipBlanks(colon + 1, end) : nullptr;
    }

    bool readDeclaration(const char* word, const char* end) {
        if (word >= end) {
            return true;
        }
        if (wordAt(word, end, "position")) {
            const char* value = afterColon(word, 8, end);
            if (position || value == nullptr || !wordAt(value, end, "absolute")) {
                return false;
            }
            position = true;
            return true;
        }
        if (wordAt(word, end, "top")) {
            const char* value = afterColon(word, 3, end);
            if (top || value == nullptr) {
                return false;
            }
            top = true;
            topText = value;
            topEnd = end;
            while (topEnd > topText && IsBlank(topEnd[-1])) {
                --topEnd;
            }
            if (topEnd - topText >= 2 && EqualNoCaseN(topEnd - 2, 2, "pt", 2)) {
                topEnd -= 2;
            }
            return true;
        }
        const std::size_t length = wordAt(word, end, "left")    ? 4
                                   : wordAt(word, end, "right") ? 5
                                                                : 0;
        if (length == 0 || side || afterColon(word, length, end) == nullptr) {
            return false;
        }
        side = true;
        return true;
    }
};

}  // namespace

CReportCore::DivLayout CReportCore::parseDivLayoutIn(const char* tag, const char* limit,
                                                     std::int64_t tagOffset, std::int64_t& end,
                                                     std::int32_t& top) {
    end = -1;
    top = -1;
    const char* close = findInRange(tag, limit, '>');
    if (close == nullptr || !beginsDivTag(tag, close)) {
        return DivLayout::NotPositioned;
    }
    // A div whose last attribute is an unquoted id is a container, not a placed box.
    if (close[-1] != '"') {
        const char* blank = close - 1;
        while (blank > tag && !IsBlank(*blank)) {
            --blank;
        }
        if (blank > tag && close - blank >= 4 && std::memcmp(blank + 1, "id=", 3) == 0) {
            return DivLayout::NotPositioned;
        }
    }

    DivStyle style;
    const char* p = tag + 4;
    while (true) {
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
        if (isStyle && (p >= close || *p != '=')) {
            return DivLayout::NotPositioned;
        }
        if (p >= close || *p != '=') {
            continue;
        }
        p = skipBlanks(p + 1, close);
        if (p < close && (*p == '"' || *p == '\'')) {
            const char* valueEnd = findInRange(p + 1, close, *p);
            if (valueEnd == nullptr || (isStyle && !style.read(p + 1, valueEnd))) {
                return DivLayout::NotPositioned;
            }
            p = valueEnd + 1;
        } else if (isStyle) {
            return DivLayout::NotPositioned;
        } else {
            while (p < close && !IsBlank(*p)) {
                ++p;
            }
        }
    }
    const int topLength = style.top ? static_cast<int>(style.topEnd - style.topText) : 0;
    if (!style.top || !IsSignedNumberText(style.topText, topLength)) {
        return DivLayout::NotPositioned;
    }
    top = leadingInteger(style.topText, style.topEnd);

    // The closing tag, unless a span or the end of the copied text comes first.
    for (const char* q = close + 1; q < limit;) {
        const char* open = findInRange(q, limit, '<');
        if (open == nullptr) {
            break;
        }
        const std::int64_t left = limit - open;
        if (left >= 6 && EqualNoCaseN(open, 6, "</div>", 6)) {
            end = tagOffset + (open + 5 - tag);
            return DivLayout::Closed;
        }
        if (left >= 6 && EqualNoCaseN(open, 6, "<span ", 6)) {
            break;
        }
        const char* tagEnd = findInRange(open + 1, limit, '>');
        if (tagEnd == nullptr) {
            break;
        }
        q = tagEnd + 1;
    }
    return DivLayout::Open;
}

std::int32_t CReportCore::ParseDivLayout(const char* tag, std::int64_t* start, std::int64_t* end,
                                         std::int32_t* top, std::int64_t tagOffset) {
    *start = -1;
    *end = -1;
    *top = -1;
    char* const buffer = m_tagBuffer.data();
    const char* const limit = buffer + m_tagUsed;
    if (tag < buffer || tag >= limit) {
        return -1;
    }
    char* const own = buffer + (tag - buffer);
    const std::int64_t offset = tagOffset >= 0 ? tagOffset : m_tagOffset + (tag - buffer);
    const char* close = findInRange(tag, limit, '>');
    if (close != nullptr && beginsDivTag(tag, close)) {
        BlankOutLineBreaks(own, buffer + (close - buffer));
    }
    std::int64_t elementEnd = -1;
    std::int32_t elementTop = -1;
    const DivLayout layout = parseDivLayoutIn(tag, limit, offset, elementEnd, elementTop);
    if (layout == DivLayout::NotPositioned) {
        return -1;
    }
    *top = elementTop;
    if (layout == DivLayout::Open) {
        return -1;
    }
    *start = offset;
    *end = elementEnd;
    return 0;
}

std::int32_t CReportCore::RebaseTopValues(std::int32_t startTop, std::int32_t pageNumber) {
    char* const buffer = m_tagBuffer.data();
    const char* const bufferEnd = buffer + m_tagUsed;
    for (const char* open = findInRange(buffer, bufferEnd, '<'); open != nullptr;
         open = findInRange(open + 1, bufferEnd, '<')) {
        // Only div and span tags carry a TOP; other '<' (even stray ones in text) are passed.
        if (!wordAt(open + 1, bufferEnd, "div") && !wordAt(open + 1, bufferEnd, "span")) {
            continue;
        }
        const std::int32_t top = GetTopValue(open - buffer, pageNumber);
        if (top <= 0) {
            continue;
        }
        // The number as written: its sign and digits; a fraction behind them stays.
        char* const number = buffer + m_topValueIndex;
        const char* const valueEnd = number + m_topValueLength;
        const char* digitsEnd = number + (*number == '-' ? 1 : 0);
        while (digitsEnd < valueEnd && *digitsEnd >= '0' && *digitsEnd <= '9') {
            ++digitsEnd;
        }
        const std::int64_t oldLength = digitsEnd - number;
        char text[24];
        const auto written =
            std::to_chars(text, text + sizeof text, static_cast<std::int64_t>(top) - startTop);
        const std::int64_t newLength = written.ptr - text;
        if (newLength > oldLength) {
            if (top < startTop) {
                raise(8);
            }
            raise(startTop < 0 ? 20 : 21);
        }
        std::memset(number, ' ', static_cast<std::size_t>(oldLength - newLength));
        std::memcpy(number + (oldLength - newLength), text, static_cast<std::size_t>(newLength));
    }
    return 0;
}

void CReportCore::HideEmptyLastDiv() {
    char* const buffer = m_tagBuffer.data();
    const char* const bufferEnd = buffer + m_tagUsed;
    char* tag = nullptr;
    for (std::int64_t i = m_tagUsed - 1; i >= 0 && tag == nullptr; --i) {
        if (buffer[i] != '<') {
            continue;
        }
        if (wordAt(buffer + i + 1, bufferEnd, "span")) {
            return;
        }
        if (wordAt(buffer + i + 1, bufferEnd, "div")) {
            tag = buffer + i;
        }
    }
    if (tag == nullptr) {
        return;
    }
    std::int64_t start = -1;
    std::int64_t end = -1;
    std::int32_t top = -1;
    if (ParseDivLayout(tag, &start, &end, &top, -1) != 0 || start < 0 || end < 0) {
        return;
    }
    char* const last = buffer + (end - m_tagOffset);
    const char* const closing = last - 5;
    const char* p = findInRange(tag, closing, '>') + 1;
    while (p < closing) {
        if (IsBlank(*p)) {
            ++p;
        } else if (closing - p >= 4 && std::memcmp(p, "<!--", 4) == 0) {
            const char* commentEnd = findInRange(p + 4, closing, '>');
            if (commentEnd == nullptr) {
                return;
            }
            p = commentEnd + 1;
        } else {
            return;
        }
    }
    for (char* q = tag; q <= last; ++q) {
        if (*q == '<') {
            *q = '(';
        } else if (*q == '>') {
            *q = ')';
        }
    }
    std::memcpy(tag, "<!--", 4);
    std::memcpy(last - 2, "-->", 3);
}

std::int32_t CReportCore::CountTextChars(const char* text, std::int64_t length) {
    TextCharCounter counter;
    if (text != nullptr && length > 0) {
        counter.feed(text, text + length, 0);
    }
    m_textCharCount = static_cast<std::int32_t>(std::min<std::int64_t>(counter.count(), INT32_MAX));
    return m_textCharCount;
}

std::int64_t CReportCore::countTextCharsInFile(std::int64_t from, std::int64_t to,
                                               std::int64_t enough) {
    TextCharCounter counter;
    std::int64_t at = std::max<std::int64_t>(from, 0);
    const std::int64_t stop = std::min(to, m_fileSize);
    while (at < stop && (enough <= 0 || counter.count() < enough)) {
        std::int64_t available = 0;
        const char* p = windowAt(at, available);
        const std::int64_t length = std::min(available, stop - at);
        counter.feed(p, p + length, enough);
        at += length;
    }
    return counter.count();
}

}  // namespace paginor
