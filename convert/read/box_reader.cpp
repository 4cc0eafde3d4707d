#include "convert/read/box_reader.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "convert/convert_engine.h"
#include "convert/read/html_scan.h"
#include "convert/read/text_measurer.h"
#include "core/text_format.h"
#include "platform/code_page_convert.h"

namespace paginor {

namespace {

constexpr std::size_t kMessageValueLimit = 1024;

bool isBlank(char c) {
    return c == ' ' || c == '\r' || c == '\n' || c == '\t';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return lower(x) == lower(y); });
}

bool startsNoCase(const char* p, const char* end, std::string_view word) {
    return static_cast<std::size_t>(end - p) >= word.size() && equalNoCase({p, word.size()}, word);
}

const char* findNoCase(const char* start, const char* end, std::string_view word) {
    for (const char* p = start; p < end; ++p) {
        if (startsNoCase(p, end, word)) {
            return p;
        }
    }
    return nullptr;
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::string bounded(std::string_view value) {
    return std::string(value.substr(0, kMessageValueLimit));
}

// "#RRGGBB" read from a bounded copy: the colour parser reads up to a NUL.
bool hexColour(const char* hash, const char* end, std::uint32_t* colour) {
    char digits[7] = {};
    const std::size_t n = std::min<std::size_t>(6, static_cast<std::size_t>(end - hash - 1));
    std::memcpy(digits, hash + 1, n);
    return ParseHexColor(digits, colour);
}

// A style length in points: "pt" or no unit as written, "px" three quarters. False when the
// number holds anything but digits, '.', ',' and a leading '-'.
bool parseLength(std::string_view value, double* points) {
    value = trim(value);
    double scale = 1.0;
    if (value.size() >= 2 && equalNoCase(value.substr(value.size() - 2), "pt")) {
        value.remove_suffix(2);
    } else if (value.size() >= 2 && equalNoCase(value.substr(value.size() - 2), "px")) {
        value.remove_suffix(2);
        scale = 0.75;
    }
    value = trim(value);
    if (value.empty()) {
        return false;
    }
    std::string number;
    for (std::size_t i = 0; i < value.size(); ++i) {
        const char c = value[i];
        if (c >= '0' && c <= '9') {
            number.push_back(c);
        } else if (c == '.' || c == ',') {
            number.push_back('.');
        } else if (c == '-' && i == 0) {
            number.push_back(c);
        } else {
            return false;
        }
    }
    *points = std::strtod(number.c_str(), nullptr) * scale;
    return true;
}

std::int32_t toInt(double value) {
    return static_cast<std::int32_t>(std::clamp(value, -1e9, 1e9));
}

// A place or size of a box in points, kept where its tenths and the sum of a place and a size in
// tenths stay within 32 bits.
double clampPoints(double points) {
    return std::clamp(points, -1e8, 1e8);
}

bool isNumberText(std::string_view text) {
    bool digit = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c != '.' && c != ',' && c != '-' && c != '+' && c != ' ') {
            return false;
        }
    }
    return digit;
}

bool isDateLike(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return (c >= '0' && c <= '9') || c == '/' || c == '-';
    });
}

// The extent of "0" in the class font.
void measureReference(const TextMeasurer& measurer, tagStyleClassInfo& style) {
    const TextExtent zero = measurer.measure(style.fontName, style.fontSize, style.bold != 0, u"0");
    style.referenceWidth = zero.width;
    style.referenceHeight = zero.height;
}

}  // namespace

// ---- Style sheet ----

void StyleSheet::ParseStyleSheet(CConvertEngine& engine, const TextMeasurer& measurer,
                                 std::string_view head) {
    m_classes.clear();
    m_lastFound = 0;
    m_positionsAbsolute = false;
    m_colourClasses = false;
    const char* const begin = head.data();
    const char* const end = head.data() + head.size();
    const auto fail = [&engine](std::string_view message) { engine.raiseOwn(message); };

    for (const char* p = findNoCase(begin, end, "<style"); p != nullptr;
         p = findNoCase(p + 1, end, "<style")) {
        const char* close = FindTagClose(p, end);
        if (close == nullptr) {
            break;
        }
        const char* bodyEnd = findNoCase(close + 1, end, "</style>");
        if (bodyEnd == nullptr) {
            bodyEnd = end;
        }
        const std::string_view tag(p, static_cast<std::size_t>(close + 1 - p));
        const std::string_view body(close + 1, static_cast<std::size_t>(bodyEnd - close - 1));
        if (equalNoCase(tag, "<style type=\"text/css\">") &&
            findNoCase(body.data(), bodyEnd, "div{position:absolute;}") != nullptr) {
            m_positionsAbsolute = true;
        }
        const std::string_view text = trim(body);
        if (text.empty() || text.front() != '#') {
            continue;
        }
        tagStyleClassInfo style;
        const std::size_t nameEnd = text.find_first_of(" \t\r\n{", 1);
        style.className = std::string(text.substr(
            1, nameEnd == std::string_view::npos ? std::string_view::npos : nameEnd - 1));
        const std::size_t open = text.find('{');
        const std::size_t shut = open == std::string_view::npos ? open : text.find('}', open);
        const std::string_view rules =
            open == std::string_view::npos
                ? std::string_view{}
                : text.substr(open + 1, shut == std::string_view::npos ? std::string_view::npos
                                                                       : shut - open - 1);
        if (const char* font = findNoCase(rules.data(), rules.data() + rules.size(), "font:")) {
            const std::string_view rest(
                font + 5, static_cast<std::size_t>(rules.data() + rules.size() - font - 5));
            std::string value(1, ' ');
            value += rest.substr(0, rest.find(';'));
            value += ' ';
            const auto blankOut = [&value](std::string_view word) {
                bool found = false;
                for (const char* w = findNoCase(value.data(), value.data() + value.size(), word);
                     w != nullptr;
                     w = findNoCase(value.data(), value.data() + value.size(), word)) {
                    std::fill_n(value.begin() + (w - value.data()), word.size(), ' ');
                    found = true;
                }
                return found;
            };
            if (findNoCase(value.data(), value.data() + value.size(), " bold ") != nullptr) {
                style.bold = 1;
            }
            // Blanking " bold " leaves the blanks that a following word needs.
            for (const std::string_view word : {" bold ", " normal ", "/normal ", " italic "}) {
                while (blankOut(word)) {
                }
            }
            for (const std::string_view unit : {"pt ", "pt/", "px ", "px/"}) {
                const char* u = findNoCase(value.data(), value.data() + value.size(), unit);
                if (u == nullptr) {
                    continue;
                }
                const char* digits = u;
                while (digits > value.data() &&
                       ((digits[-1] >= '0' && digits[-1] <= '9') || digits[-1] == '.')) {
                    --digits;
                }
                if (digits == u) {
                    continue;
                }
                double size = std::strtod(std::string(digits, u).c_str(), nullptr);
                if (unit[1] == 'x') {
                    size *= 0.75;
                }
                style.fontSize = toInt(size);
                std::fill(value.begin() + (digits - value.data()),
                          value.begin() + (u + 2 - value.data()), ' ');
                break;
            }
            const std::string_view family = trim(value);
            if (!family.empty() && family.front() == '"') {
                const std::size_t quote = family.find('"', 1);
                if (quote == std::string_view::npos) {
                    fail("Syntax Error in HTML Style, Fail to recognize font name");
                }
                style.fontName = std::string(family.substr(1, quote - 1));
            } else {
                style.fontName = std::string(family);
            }
        }
        for (std::size_t at = rules.find("color"); at != std::string_view::npos;
             at = rules.find("color", at + 1)) {
            if (at > 0 && rules[at - 1] == '-') {
                continue;
            }
            std::size_t k = at + 5;
            while (k < rules.size() && isBlank(rules[k])) {
                ++k;
            }
            if (k >= rules.size() || rules[k] != ':') {
                continue;
            }
            ++k;
            while (k < rules.size() && isBlank(rules[k])) {
                ++k;
            }
            if (k < rules.size() && rules[k] == '#') {
                const char* hash = rules.data() + k;
                if (!hexColour(hash, rules.data() + rules.size(), &style.fontColour)) {
                    fail("Fail to recognize the color value " +
                         std::string(rules.substr(k + 1, 6)));
                }
                m_colourClasses = m_colourClasses || style.fontColour != 0;
            }
            break;
        }
        m_classes.push_back(std::move(style));
    }
    m_builtInClass = tagStyleClassInfo();
    m_builtInClass.fontName = "Arial";
    m_builtInClass.className = "PreDefined";
    measureReference(measurer, m_builtInClass);
    for (tagStyleClassInfo& style : m_classes) {
        measureReference(measurer, style);
    }
    m_builtIn = m_classes.empty();
    if (m_builtIn) {
        m_classes.push_back(m_builtInClass);
    }
}

const tagStyleClassInfo* StyleSheet::find(std::string_view name) const {
    if (m_lastFound < m_classes.size() && equalNoCase(m_classes[m_lastFound].className, name)) {
        return &m_classes[m_lastFound];
    }
    for (std::size_t i = 0; i < m_classes.size(); ++i) {
        if (equalNoCase(m_classes[i].className, name)) {
            m_lastFound = i;
            return &m_classes[i];
        }
    }
    return m_builtIn ? &m_classes.front() : nullptr;
}

// ---- Box reader ----

struct BoxReader::Element {
    const char* tagStart = nullptr;    // '<'
    const char* attributes = nullptr;  // after the element name
    const char* tagClose = nullptr;    // '>'
    const char* contentEnd = nullptr;
    const char* after = nullptr;
    bool isDiv = false;
    // Filled from the style.
    std::int32_t top = -1;
    std::int32_t left = -1;
    bool rightAligned = false;
    double width = 0;
    double height = 0;
};

BoxReader::BoxReader(CConvertEngine& engine, const StyleSheet& styles, const TextMeasurer& measurer,
                     FrameCollector& frames, const BoxReaderOptions& options)
    : m_engine(engine),
      m_styles(styles),
      m_measurer(measurer),
      m_frames(frames),
      m_options(options) {}

void BoxReader::fail(std::string_view message) {
    m_engine.raiseOwn(message);
}

void BoxReader::readBoxes(const char* input, std::int64_t length, const std::int64_t* pageOffsets,
                          std::int32_t pageCount) {
    m_pageTops.assign(static_cast<std::size_t>(std::max(pageCount, 0)), -1);
    for (std::int32_t k = 0; k < pageCount; ++k) {
        const std::int64_t from = pageOffsets[k];
        const std::int64_t to = k + 1 < pageCount ? pageOffsets[k + 1] : length;
        if (from < 0 || to < from || to > length) {
            fail("Error [M:RB]: the page offsets do not ascend inside the batch");
        }
        readPage(input + from, input + to, k);
        for (const tagDivRectInfo& box : m_waiting) {
            m_frames.offerWaitingBox(box, k);
        }
        m_waiting.clear();
    }
}

void BoxReader::readPage(const char* start, const char* end, std::int32_t page) {
    tagDivInfo* previous = nullptr;
    bool pageTopSet = false;
    const char* p = start;
    while (p < end) {
        const char* lt = static_cast<const char*>(std::memchr(p, '<', end - p));
        if (lt == nullptr) {
            break;
        }
        const char* close = FindTagClose(lt, end);
        if (close == nullptr) {
            m_engine.raise(kErrMissingTagEnd);
        }
        Element e;
        e.tagStart = lt;
        e.tagClose = close;
        if (startsNoCase(lt, end, "<div") && lt + 4 < end && isBlank(lt[4]) && lt[4] != '\t') {
            e.isDiv = true;
            e.attributes = lt + 4;
            int depth = 1;
            const char* q = close + 1;
            e.contentEnd = end;
            e.after = end;
            while (q < end) {
                const char* open = findNoCase(q, end, "<div ");
                const char* shut = findNoCase(q, end, "</div>");
                if (shut == nullptr) {
                    break;
                }
                if (open != nullptr && open < shut) {
                    const char* attr = open + 5;
                    while (attr < end && isBlank(*attr)) {
                        ++attr;
                    }
                    if (!startsNoCase(attr, end, "class")) {
                        ++depth;
                    }
                    q = open + 5;
                    continue;
                }
                if (--depth == 0) {
                    e.contentEnd = shut;
                    e.after = shut + 6;
                    break;
                }
                q = shut + 6;
            }
        } else if (startsNoCase(lt, end, "<span") && lt + 5 < end && isBlank(lt[5]) &&
                   lt[5] != '\t') {
            const std::string_view tag(lt + 5, static_cast<std::size_t>(close + 1 - lt - 5));
            if (tag == " dir=rtl>" || tag == " dir=ltr>") {
                p = close + 1;
                continue;
            }
            e.attributes = lt + 5;
            const char* shut = findNoCase(close + 1, end, "</span>");
            e.contentEnd = shut != nullptr ? shut : end;
            e.after = shut != nullptr ? shut + 7 : end;
        } else {
            previous = nullptr;
            p = close + 1;
            continue;
        }
        p = e.after;
        if (ParseElementStyle(e, page) != 0) {
            previous = nullptr;
            continue;
        }
        const tagStyleClassInfo* style = FindStyleClass(lt, e.contentEnd);
        const tagCellContent content = m_engine.GetCellContent(close + 1, e.contentEnd);
        const std::int32_t boxWidth = content.kind == kKindImage && content.imageWidth > 0
                                          ? content.imageWidth
                                      : e.width > 0 ? toInt(e.width * 10)
                                                    : 720;
        const std::int32_t boxHeight = content.kind == kKindImage && content.imageHeight > 0
                                           ? content.imageHeight
                                       : e.height > 0 ? toInt(e.height * 10)
                                                      : 190;
        if (e.top < -1) {
            previous = nullptr;
            continue;
        }
        if (content.kind == kKindText && !pageTopSet) {
            m_pageTops[static_cast<std::size_t>(page)] = e.top;
            pageTopSet = true;
        }
        // A text that names no class is still a text of the page: it takes the built-in class,
        // as every text does when the head defines none.
        if (style == nullptr && content.kind != kKindImage && content.length > 0) {
            style = &m_styles.builtInClass();
        }
        if (content.kind != kKindImage && style == nullptr) {
            previous = nullptr;
            continue;
        }
        tagDivInfo& piece = *NewDivRecord();
        piece.page = page;
        piece.text = content.text != nullptr ? content.text : lt;
        piece.textLength = content.length;
        piece.kind = content.kind;
        piece.left = e.left;
        piece.top = e.top;
        if (style != nullptr) {
            piece.fontColour = style->fontColour;
            piece.fontName = m_engine.InternFontName(style->fontName);
            piece.bold = style->bold;
        }
        if (content.kind == kKindImage) {
            piece.width = (boxWidth + 5) / 10;
            piece.height = (boxHeight + 5) / 10;
            piece.centre = e.top * 10 + boxHeight / 2;
            piece.rightEdge = boxWidth + e.left * 10;
        } else {
            piece.fontSize = style->fontSize;
            m_engine.CountFontSize(style->fontSize);
            MeasureDivText(*style, piece.text, piece.textLength, piece);
            if (e.rightAligned && e.width > 0) {
                piece.left += toInt(e.width) - piece.width;
            }
            piece.rightEdge = (piece.left + piece.width) * 10;
        }
        piece.leftEdge = piece.left * 10;
        // A text continues only a text: an image just above it is no first line.
        if (e.isDiv && content.kind != kKindImage && previous != nullptr &&
            previous->kind != kKindImage && joinsPrevious(piece, *previous)) {
            piece.joinedTo = previous;
        }
        append(&piece);
        previous = e.isDiv ? &piece : nullptr;
    }
}

std::int32_t BoxReader::ParseElementStyle(Element& e, std::int32_t page) {
    std::string_view style;
    bool haveStyle = false;
    const char* a = e.attributes;
    const char* const tagEnd = e.tagClose;
    while (a < tagEnd) {
        while (a < tagEnd && isBlank(*a)) {
            ++a;
        }
        if (a >= tagEnd || *a == '/') {
            break;
        }
        const char* nameStart = a;
        while (a < tagEnd && *a != '=' && !isBlank(*a) && *a != '"' && *a != '\'') {
            ++a;
        }
        const std::string_view name(nameStart, static_cast<std::size_t>(a - nameStart));
        if (a < tagEnd && (*a == '"' || *a == '\'')) {
            fail("Expected \" not found ");
        }
        const char* afterName = a;
        while (a < tagEnd && isBlank(*a)) {
            ++a;
        }
        if (a >= tagEnd || *a != '=') {
            if (a == afterName && a < tagEnd) {
                fail("Expected \" not found ");
            }
            continue;  // an attribute without a value
        }
        ++a;
        while (a < tagEnd && isBlank(*a)) {
            ++a;
        }
        std::string_view value;
        bool quoted = false;
        if (a < tagEnd && (*a == '"' || *a == '\'')) {
            const char quote = *a;
            const char* shut = static_cast<const char*>(std::memchr(a + 1, quote, tagEnd - a - 1));
            if (shut == nullptr) {
                fail(quote == '"' ? "Expected \" not found " : "Expected ' not found ");
            }
            value = {a + 1, static_cast<std::size_t>(shut - a - 1)};
            quoted = true;
            a = shut + 1;
        } else {
            const char* v = a;
            while (a < tagEnd && !isBlank(*a)) {
                ++a;
            }
            value = {v, static_cast<std::size_t>(a - v)};
        }
        if (equalNoCase(name, "style") && !haveStyle) {
            if (!quoted) {
                return 1;
            }
            style = value;
            haveStyle = true;
        }
    }

    bool positioned = m_styles.positionsAbsolute();
    bool bordered = false;
    std::string_view top;
    std::string_view left;
    std::string_view right;
    bool haveTop = false;
    bool haveLeft = false;
    bool haveRight = false;
    std::string_view align;
    for (std::size_t from = 0; from <= style.size();) {
        std::size_t semi = style.find(';', from);
        if (semi == std::string_view::npos) {
            semi = style.size();
        }
        const std::string_view declaration = style.substr(from, semi - from);
        from = semi + 1;
        const std::size_t colon = declaration.find(':');
        if (colon == std::string_view::npos) {
            continue;
        }
        const std::string_view name = trim(declaration.substr(0, colon));
        const std::string_view value = trim(declaration.substr(colon + 1));
        if (equalNoCase(name, "position")) {
            if (!equalNoCase(value, "absolute")) {
                return 1;
            }
            positioned = true;
        } else if (equalNoCase(name, "top") && !haveTop) {
            top = value;
            haveTop = true;
        } else if (equalNoCase(name, "left") && !haveLeft) {
            left = value;
            haveLeft = true;
        } else if (equalNoCase(name, "right") && !haveRight) {
            right = value;
            haveRight = true;
        } else if (equalNoCase(name, "width")) {
            double points = 0;
            e.width = parseLength(value, &points) ? clampPoints(points) : 0;
        } else if (equalNoCase(name, "height")) {
            double points = 0;
            e.height = parseLength(value, &points) ? clampPoints(points) : 0;
        } else if (equalNoCase(name, "text-align")) {
            align = value;
        } else if (equalNoCase(name, "border-style") || equalNoCase(name, "border-top")) {
            bordered = true;
        }
    }
    if (!positioned) {
        return 1;
    }
    if (m_options.engineNumber == kEngineNumber) {
        if (m_frames.frameCount() >= kFrameCapacity) {
            m_engine.raise(kErrCapability);
        }
        const char* content = e.tagClose + 1;
        const bool empty = content == e.contentEnd;
        if (startsNoCase(content, e.contentEnd, "<table>") || (e.isDiv && empty && bordered)) {
            AddDivRect(style.data(), style.data() + style.size(), page);
            return 2;
        }
    }
    double value = 0;
    if (!haveTop) {
        fail("Failed to recognize the TOP value inside html code, no TOP tag found");
    }
    if (!parseLength(top, &value)) {
        fail(
            "Failed to recognize the TOP value inside html code, non-number character was "
            "found");
    }
    e.top = toInt(clampPoints(value));
    const std::string_view horizontal = haveLeft ? left : right;
    if (!parseLength(horizontal, &value)) {
        fail(
            "Failed to recognize the LEFT value inside html code, non-number character was "
            "found: " +
            (horizontal.empty() ? std::string("*Empty*") : bounded(horizontal)) +
            ".Len=" + std::to_string(horizontal.size()) +
            ", RTL=" + std::to_string(m_options.rightToLeft ? 1 : 0) + ". ");
    }
    e.left = toInt(clampPoints(value));
    if (!e.isDiv) {
        e.rightAligned = startsNoCase(align.data(), align.data() + align.size(),
                                      m_options.rightToLeft ? "left" : "right");
    }
    return 0;
}

const tagStyleClassInfo* BoxReader::FindStyleClass(const char* tagStart, const char* end) {
    const char* tagEnd = FindTagClose(tagStart, end);
    std::string_view name;
    if (!FindAttribute(tagStart, tagEnd, "id", &name)) {
        // The class of the element's first span, never one beyond the element.
        if (const char* span = findNoCase(tagStart, end, "<span ")) {
            const char* spanEnd = FindTagClose(span, end);
            if (spanEnd != nullptr) {
                FindAttribute(span, spanEnd, "class", &name);
            }
        }
    }
    const std::size_t cut = name.find_first_of("\" >");
    name = name.substr(0, cut);
    // An element that names no class (an image, an empty mark) has none.
    if (name.empty() && !m_styles.builtIn()) {
        return nullptr;
    }
    const tagStyleClassInfo* style = m_styles.find(name);
    if (style == nullptr) {
        fail("Fail to recognize the style ID : " + bounded(name));
    }
    return style;
}

void BoxReader::MeasureDivText(const tagStyleClassInfo& style, const char* text,
                               std::int32_t length, tagDivInfo& piece) {
    TextExtent extent;
    if (length == 0) {
        extent = style.referenceWidth >= 1 && style.referenceWidth <= 29
                     ? TextExtent{style.referenceWidth, style.referenceHeight}
                     : m_measurer.measure(style.fontName, style.fontSize, style.bold != 0, u"0");
    } else {
        const std::u16string wide = codePageToUtf16(
            std::string_view(text, static_cast<std::size_t>(length)), m_options.codePage);
        extent = m_measurer.measure(style.fontName, style.fontSize, style.bold != 0, wide);
    }
    piece.width = toInt(extent.width * 0.75);
    piece.height = toInt(extent.height * 0.75);
    // In tenths of a point; a TOP near the end of the range must not overflow.
    piece.centre = toInt(piece.top * 10.0 + extent.height * 3.75);
}

bool BoxReader::joinsPrevious(const tagDivInfo& piece, const tagDivInfo& previous) const {
    if (previous.left != piece.left) {
        const std::int64_t centre = std::int64_t{piece.leftEdge} + piece.rightEdge;
        const std::int64_t previousCentre = std::int64_t{previous.leftEdge} + previous.rightEdge;
        if (std::abs(centre - previousCentre) > 2 * 50) {
            return false;
        }
    }
    if (piece.top < previous.top + previous.height - 2 ||
        piece.top > previous.top + 1.8 * previous.height) {
        return false;
    }
    if (piece.page != previous.page || piece.bold != previous.bold ||
        piece.fontColour != previous.fontColour || piece.fontSize != previous.fontSize) {
        return false;
    }
    if (piece.fontName != nullptr && previous.fontName != nullptr &&
        !equalNoCase(piece.fontName, previous.fontName)) {
        return false;
    }
    const std::string_view text(piece.text, static_cast<std::size_t>(piece.textLength));
    const std::string_view before(previous.text, static_cast<std::size_t>(previous.textLength));
    const std::size_t firstWord = std::min(text.find(' '), text.size());
    if (static_cast<std::int64_t>(text.size()) - static_cast<std::int64_t>(firstWord) - 1 >=
        static_cast<std::int64_t>(before.size()) + 1) {
        return false;
    }
    if (isNumberText(text) && isNumberText(before)) {
        return false;
    }
    return !(isDateLike(text) && isDateLike(before) && text.size() == before.size());
}

tagDivRectInfo BoxReader::ParseDivRect(const char* styleStart, const char* styleEnd) {
    tagDivRectInfo box;
    const auto valueOf = [&](std::string_view name, const char** at) -> bool {
        for (const char* p = findNoCase(styleStart, styleEnd, name); p != nullptr;
             p = findNoCase(p + 1, styleEnd, name)) {
            const bool boundary = p == styleStart || p[-1] == ' ' || p[-1] == '"' ||
                                  p[-1] == '\r' || p[-1] == '\n' || p[-1] == ';';
            const char* q = p + name.size();
            if (boundary && q < styleEnd && *q == ':') {
                *at = q + 1;
                return true;
            }
        }
        return false;
    };
    // Tenths of a point: "pt" and no unit are points (no unit: pixels for sizes), "px" pixels.
    const auto tenths = [&](std::string_view name, bool unitlessPoints) -> std::int32_t {
        const char* at = nullptr;
        if (!valueOf(name, &at)) {
            return 0;
        }
        const char* q = at;
        while (q < styleEnd && ((*q >= '0' && *q <= '9') || *q == '.' || *q == ' ')) {
            ++q;
        }
        const double number = std::strtod(std::string(at, q).c_str(), nullptr);
        const bool points =
            startsNoCase(q, styleEnd, "pt") || (unitlessPoints && !startsNoCase(q, styleEnd, "px"));
        return toInt(number * (points ? 10.0 : 7.5));
    };
    box.top = tenths("top", true);
    box.left = tenths("left", true);
    box.width = tenths("width", false);
    box.height = tenths("height", false);
    box.bottom = box.top + box.height;
    box.right = box.left + box.width;
    const char* colour = nullptr;
    if (valueOf("background-color", &colour)) {
        while (colour < styleEnd && *colour == ' ') {
            ++colour;
        }
        std::uint32_t value = 0;
        if (colour < styleEnd && *colour == '#' && hexColour(colour, styleEnd, &value)) {
            box.background = value;
        } else if (startsNoCase(colour, styleEnd, "rgb(") &&
                   ParseRgbColor(colour, styleEnd - 1, &value)) {
            box.background = value;
        }
    }
    return box;
}

void BoxReader::AddDivRect(const char* styleStart, const char* styleEnd, std::int32_t page) {
    const tagDivRectInfo box = ParseDivRect(styleStart, styleEnd);
    // Only a real colour hides what lies under the box.
    if (box.background != kNoBoxBackground) {
        RemoveCoveredPieces(box);
    }
    const bool noBorder = findNoCase(styleStart, styleEnd, "border-style:none") != nullptr;
    bool whiteBorder = false;
    for (const char* p = findNoCase(styleStart, styleEnd, "border"); p != nullptr;
         p = findNoCase(p + 1, styleEnd, "border")) {
        const char* declarationEnd = static_cast<const char*>(std::memchr(p, ';', styleEnd - p));
        if (findNoCase(p, declarationEnd != nullptr ? declarationEnd : styleEnd, "#ffffff")) {
            whiteBorder = true;
        }
    }
    const bool plain = box.background == kNoBoxBackground || box.background == 0xFFFFFF;
    if (plain && (noBorder || whiteBorder)) {
        return;
    }
    if (!plain && noBorder && m_frames.insideColouredRegion(box)) {
        return;
    }
    if (!m_frames.placeBox(box, page)) {
        m_waiting.push_back(box);
    }
    m_frames.addStrips(box);
}

void BoxReader::RemoveCoveredPieces(const tagDivRectInfo& box) {
    if (box.width < 50 || box.height < 50) {
        return;
    }
    tagDivInfo* piece = m_tail;
    for (int looked = 0; piece != nullptr && looked < 50; ++looked) {
        tagDivInfo* before = piece->previous;
        if (piece->leftEdge > box.left && piece->rightEdge < box.right && piece->centre > box.top &&
            piece->centre < box.bottom) {
            unlink(piece);
        }
        piece = before;
    }
}

tagDivInfo* BoxReader::NewDivRecord() {
    if (m_pool.size() >= m_engine.m_limits.pieces) {
        m_engine.raise(kErrDivPool);
    }
    tagDivInfo& piece = m_pool.emplace_back();
    piece.order = static_cast<std::int32_t>(m_pool.size());
    return &piece;
}

void BoxReader::append(tagDivInfo* piece) {
    piece->previous = m_tail;
    piece->next = nullptr;
    if (m_tail != nullptr) {
        m_tail->next = piece;
    } else {
        m_head = piece;
    }
    m_tail = piece;
}

void BoxReader::unlink(tagDivInfo* piece) {
    (piece->previous != nullptr ? piece->previous->next : m_head) = piece->next;
    (piece->next != nullptr ? piece->next->previous : m_tail) = piece->previous;
    piece->previous = nullptr;
    piece->next = nullptr;
}

}  // namespace paginor
