#include <cstring>
#include <string>

#include "core/report_core.h"
#include "core/text_scan.h"

namespace paginor {

namespace {

constexpr char kMarker[] = "!--PAGINOR?";
constexpr std::int64_t kMarkerLength = sizeof kMarker - 1;

bool startsWithNoCase(const char* p, const char* end, const char* keyword) {
    const std::int64_t n = static_cast<std::int64_t>(std::strlen(keyword));
    return end - p >= n && EqualNoCaseN(p, static_cast<int>(n), keyword, static_cast<int>(n));
}

bool endsWith(const char* begin, const char* end, const char* suffix) {
    const std::int64_t n = static_cast<std::int64_t>(std::strlen(suffix));
    return end - begin >= n && std::memcmp(end - n, suffix, static_cast<std::size_t>(n)) == 0;
}

const char* findByteIn(const char* begin, const char* end, char c) {
    return static_cast<const char*>(std::memchr(begin, c, static_cast<std::size_t>(end - begin)));
}

}  // namespace

std::int32_t CReportCore::ParsePrintDirectives(const char* text, std::int64_t length) {
    if (text == nullptr || length <= 0) {
        return 0;
    }
    const char* end = text + length;
    for (const char* p = findByteIn(text, end, '<'); p != nullptr;) {
        const char* directive = p + 1 + kMarkerLength;
        if (end - (p + 1) >= kMarkerLength && std::memcmp(p + 1, kMarker, kMarkerLength) == 0) {
            // Every search stays inside the text: a directive whose '>' lies beyond it is none.
            const char* close = findByteIn(directive, end, '>');
            if (startsWithNoCase(directive, end, "print_directly=yes-->") ||
                startsWithNoCase(directive, end, "print_derectly=yes-->")) {
                m_printDirectly = true;
                m_sourceMayBeShown = false;
            } else if (startsWithNoCase(directive, end, "papersize=") ||
                       startsWithNoCase(directive, end, "printer=")) {
                const bool paper = FoldCase(*directive) == 'p' && FoldCase(directive[1]) == 'a';
                const char* value = directive + (paper ? 10 : 8);
                if (close != nullptr && close - value >= 2 && close[-1] == '-' &&
                    close[-2] == '-') {
                    (paper ? m_paperSize : m_printer).assign(value, close - 2);
                }
            } else if (startsWithNoCase(directive, end, "orientation=")) {
                const char* word = directive + 12;
                if (startsWithNoCase(word, end, "portrait-->")) {
                    m_orientation = 0;
                } else if (startsWithNoCase(word, end, "landscape-->")) {
                    m_orientation = 1;
                }
            } else if (startsWithNoCase(directive, end, "margin_") && close != nullptr) {
                std::int64_t unit = 0;
                if (endsWith(directive, close, "inches--")) {
                    unit = 8;
                } else if (endsWith(directive, close, "inch--")) {
                    unit = 6;
                }
                const char* key = directive + 7;
                const char* equals = unit > 0 ? findByteIn(key, close, '=') : nullptr;
                if (equals != nullptr) {
                    if (equals - key > 6) {
                        raiseText("Invalid margin type, please check the RDF file");
                    }
                    const char* number = equals + 1;
                    const char* numberEnd = close - unit;
                    if (numberEnd < number) {
                        numberEnd = number;
                    }
                    for (const char* c = number; c < numberEnd; ++c) {
                        if (!((*c >= '0' && *c <= '9') || *c == '.')) {
                            raiseText("Invalid margins,[More Info: " +
                                      std::string(directive - 1, close - 2) +
                                      " ]please check the RDF file");
                        }
                    }
                    std::string* margin = nullptr;
                    if (startsWithNoCase(key, equals + 1, "left=")) {
                        margin = &m_marginLeft;
                    } else if (startsWithNoCase(key, equals + 1, "right=")) {
                        margin = &m_marginRight;
                    } else if (startsWithNoCase(key, equals + 1, "top=")) {
                        margin = &m_marginTop;
                    } else if (startsWithNoCase(key, equals + 1, "bottom=")) {
                        margin = &m_marginBottom;
                    }
                    if (margin == nullptr) {
                        raiseText("Invalid margin type, [More info: " + std::string(key, equals) +
                                  "] please refer to the user's guide");
                    }
                    margin->assign(number, numberEnd);
                }
            }
        }
        const char* close = findByteIn(p, end, '>');
        if (close == nullptr || close + 1 >= end) {
            break;
        }
        p = findByteIn(close + 1, end, '<');
    }
    return 0;
}

}  // namespace paginor
