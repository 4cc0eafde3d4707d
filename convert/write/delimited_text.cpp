// The grid as delimited text: UTF-8, TAB between columns, CR LF after every row.

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "convert/convert_engine.h"
#include "convert/layout/frame_store.h"
#include "convert/write/character_references.h"
#include "platform/code_page_convert.h"

namespace paginor {

namespace {

constexpr std::int32_t kUtf8CodePage = 65001;

// Line breaks and TABs inside a cell would start new rows or shift the columns.
void BlankLineBreaks(std::string& text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n' || c == '\t'; }, ' ');
}

// A field holding a double quote is quoted with its quotes doubled, or CSV readers take the
// quote as the start of a quoted field. Spreadsheet programs that are not told the separator
// split at commas and semicolons as well as at TABs: a field holding one is quoted too.
void AppendField(std::string& out, std::string_view field) {
    const bool quoted = field.find_first_of("\",;") != std::string_view::npos;
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

// Digits with separators, blanks, '%' and '$', after an optional sign: an amount, which no
// spreadsheet takes for a formula.
bool isAmount(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    bool digit = false;
    for (const char c : text) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c != '.' && c != ',' && c != ' ' && c != '%' && c != '$') {
            return false;
        }
    }
    return digit;
}

// Spreadsheet programs read a field that begins with '=', '+', '-' or '@' (after any blanks,
// which their text import may trim), or with a TAB or a line break, as a formula: such a text,
// unless it is an amount, gets an apostrophe before it so that it opens as text. A lone sign is
// no formula.
bool readAsFormula(std::string_view text) {
    const char first = text.empty() ? '\0' : text.front();
    if (first == '\t' || first == '\r' || first == '\n') {
        const std::size_t start = text.find_first_not_of(" \t\r\n");
        return start != std::string_view::npos && !isAmount(text.substr(start));
    }
    const std::size_t start = text.find_first_not_of(' ');
    if (start == std::string_view::npos || text.size() - start < 2) {
        return false;
    }
    const char c = text[start];
    return (c == '=' || c == '@' || c == '+' || c == '-') && !isAmount(text.substr(start));
}

// Whether out ends where a field begins: at the start of a line or after a TAB, blanks aside.
bool atFieldStart(const std::string& out) {
    const std::size_t last = out.find_last_not_of(' ');
    return last == std::string::npos || out[last] == '\t' || out[last] == '\n';
}

// The text is UTF-8, whatever the report's code page, as the file says at its start: every
// spreadsheet program then reads it alike, and characters written as references have their place.
void AppendCellText(std::string& out, std::string& field, std::string_view text,
                    std::int32_t codePage) {
    if (isPlainAsciiIn(text, codePage)) {
        field.assign(text);
    } else {
        field = codePageToUtf8(text, codePage);
    }
    if (HoldsCharacterReference(field)) {
        field = EncodeCharacterReferences(field, kUtf8CodePage);
    }
    if (atFieldStart(out) && readAsFormula(field)) {
        field.insert(0, 1, '\'');
    }
    BlankLineBreaks(field);
    AppendField(out, field);
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
            AppendCellText(
                m_outputText, field,
                std::string_view(cell.text, static_cast<std::size_t>(std::max(cell.textLength, 0))),
                codePage);
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

void CConvertEngine::WriteFramesDelimited(bool pageBreakLines, std::int32_t columns,
                                          bool keepFirstPage, bool keepLastPage) {
    m_outputText.clear();
    columns = std::max(columns, 1);
    const std::int32_t codePage = reportCodePage();
    std::string field;
    struct Placed {
        std::int32_t row;
        std::int32_t column;
        const tagDivInfo* piece;
    };
    std::vector<Placed> placed;
    const auto place = [&](std::int32_t row, std::int32_t column, const tagDivInfo* p) {
        if (p->text != nullptr && p->textLength > 0 &&
            (p->kind == kKindText || p->kind == kKindLink)) {
            placed.push_back({row, std::clamp(column, 0, columns - 1), p});
        }
    };
    for (std::int32_t i = 0; i < m_frames->frameCount(); ++i) {
        tagFrameInfo& f = m_frames->GetFrame(i);
        for (std::int32_t r = 0; r < f.gridRows(); ++r) {
            for (std::int32_t c = 0; c < f.gridColumns(); ++c) {
                for (const tagDivInfo* p : f.cell(r, c).pieces) {
                    place(f.rowOffset + r, f.columnOffset + c, p);
                }
            }
        }
        for (const tagDivInfo* p : f.sides[0]) {
            place(f.rowOffset + p->row, f.columnOffset + p->column, p);
        }
    }
    for (const tagDivInfo* p : m_deferredPieces) {
        place(p->row, p->column, p);
    }
    // Pieces sharing a position keep both texts, in reading order.
    std::stable_sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        return a.row != b.row
                   ? a.row < b.row
                   : (a.column != b.column ? a.column < b.column : a.piece->order < b.piece->order);
    });
    const std::string blankLine = std::string(static_cast<std::size_t>(columns - 1), '\t') + "\r\n";
    std::int32_t currentPage = -1;
    std::int32_t nextRow = placed.empty() ? 0 : std::min(placed.front().row, 0);
    for (std::size_t k = 0; k < placed.size();) {
        const std::int32_t row = placed[k].row;
        // Rows without pieces stay as empty lines; rows of dropped pages leave none.
        for (; nextRow < row; ++nextRow) {
            m_outputText += blankLine;
        }
        nextRow = row + 1;
        std::string line;
        std::int32_t position = 0;
        bool written = false;
        for (; k < placed.size() && placed[k].row == row; ++k) {
            const Placed& at = placed[k];
            const std::int32_t page = at.piece->page;
            if ((page == 0 && !keepFirstPage) || (page == m_pageCount - 1 && !keepLastPage)) {
                continue;
            }
            if (pageBreakLines && page > currentPage) {
                if (currentPage >= 0) {
                    m_outputText += "\r\n";
                }
                currentPage = page;
            }
            if (written && at.column <= position) {
                line.push_back(' ');
            }
            for (; position < at.column; ++position) {
                line.push_back('\t');
            }
            AppendCellText(
                line, field,
                std::string_view(at.piece->text, static_cast<std::size_t>(at.piece->textLength)),
                codePage);
            written = true;
        }
        if (!written) {
            continue;
        }
        for (; position < columns - 1; ++position) {
            line.push_back('\t');
        }
        m_outputText += line;
        m_outputText += "\r\n";
    }
    if (pageBreakLines) {
        m_outputText += "\r\n";
    }
}

}  // namespace paginor
