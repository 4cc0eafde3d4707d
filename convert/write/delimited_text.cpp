// The grid as delimited text: TAB between columns, CR LF after every row.

#include <algorithm>
#include <string>
#include <string_view>

#include "convert/convert_engine.h"
#include "convert/write/character_references.h"

namespace paginor {

namespace {

// Line breaks and TABs inside a cell would start new rows or shift the columns.
void BlankLineBreaks(std::string& text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
}

// A field holding a double quote is quoted with its quotes doubled, or CSV readers take the
// quote as the start of a quoted field.
void AppendField(std::string& out, std::string_view field) {
    const bool quoted = field.find('"') != std::string_view::npos;
    if (quoted) {
        out.push_back('"');
    }
    for (const char c : field) {
        if (c == '"') {
            out.push_back('"');
        }
        out.push_back(c);
    }
    if (quoted) {
        out.push_back('"');
    }
}

}  // namespace

void CConvertEngine::WriteDelimitedText(bool pageBreakLines, bool keepFirstPage,
                                        bool keepLastPage) {
    m_outputText.clear();
    const std::string blankLine =
        std::string(static_cast<std::size_t>(std::max(m_outputColumnCount - 1, 0)), '\t') + "\r\n";
    const std::int32_t codePage = reportCodePage();
    std::int32_t currentPage = -1;
    std::string field;
    for (std::int32_t r = 0; r < m_rowCount; ++r) {
        const std::int32_t page = m_rows[r].page;
        if ((page == 0 && !keepFirstPage) || (page == m_pageCount - 1 && !keepLastPage)) {
            continue;
        }
        if (page != currentPage) {
            if (pageBreakLines && currentPage >= 0) {
                m_outputText += "\r\n";
            }
            currentPage = page;
        }
        if (m_rows[r].occupied == 0) {
            std::int32_t next = r;
            while (next < m_rowCount && m_rows[next].occupied == 0) {
                ++next;
            }
            if (next == m_rowCount) {
                continue;
            }
            if (next - r >= 3) {
                m_outputText += blankLine;
            }
            r = next - 1;
            continue;
        }
        std::int32_t position = 0;
        bool written = false;
        for (std::int32_t c = 0; c < m_columnCount; ++c) {
            const tagGridCell& cell = at(r, c);
            if (cell.text == nullptr || cell.outputColumn < 0 ||
                (cell.kind != kKindText && cell.kind != kKindLink)) {
                continue;
            }
            if (written && cell.outputColumn <= position && cell.textLength > 0) {
                m_outputText.push_back(' ');
            }
            for (; position < cell.outputColumn; ++position) {
                m_outputText.push_back('\t');
            }
            // Characters written as references come out in the code page where it has them.
            const std::string_view text(cell.text,
                                        static_cast<std::size_t>(std::max(cell.textLength, 0)));
            if (text.find("&#") == std::string_view::npos) {
                field.assign(text);
            } else {
                field = EncodeCharacterReferences(text, codePage);
            }
            BlankLineBreaks(field);
            AppendField(m_outputText, field);
            written = true;
        }
        for (; position < m_outputColumnCount - 1; ++position) {
            m_outputText.push_back('\t');
        }
        m_outputText += "\r\n";
    }
    if (pageBreakLines) {
        m_outputText += "\r\n";
    }
}

}  // namespace paginor
