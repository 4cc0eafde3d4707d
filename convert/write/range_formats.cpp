#include "convert/write/range_formats.h"

#include <string.h>

#include <algorithm>

namespace paginor {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Splits a cell reference into its letters and its row; false for anything else.
bool splitCell(std::string_view cell, std::string_view& letters, std::int64_t& row) {
    std::size_t i = 0;
    while (i < cell.size() && isLetter(cell[i])) {
        ++i;
    }
    if (i == 0 || i == cell.size() || i > 3) {
        return false;
    }
    row = 0;
    for (std::size_t j = i; j < cell.size(); ++j) {
        if (!isDigit(cell[j]) || row > 100000000) {
            return false;
        }
        row = row * 10 + (cell[j] - '0');
    }
    letters = cell.substr(0, i);
    return true;
}

bool sameColumn(std::string_view cell, std::string_view letters) {
    std::string_view other;
    std::int64_t row = 0;
    return splitCell(cell, other, row) && other == letters;
}

constexpr std::int64_t kLastJoinRow = 1048575;

// The first place of needle in text: memmem skips the many separators that would each start a
// comparison in a search that looks for the needle's first character.
std::size_t findText(const std::string& text, const std::string& needle) {
    const void* at = memmem(text.data(), text.size(), needle.data(), needle.size());
    return at == nullptr ? std::string::npos
                         : static_cast<std::size_t>(static_cast<const char*>(at) - text.data());
}

}  // namespace

void CRangeFormatLists::Reset() {
    m_separator = ',';
    m_bold.clear();
    for (auto& list : m_alignment) {
        list.clear();
    }
    m_fontSizes.clear();
    m_fontColours.clear();
    m_fontNames.clear();
    m_interiorColours.clear();
}

void CRangeFormatLists::AddCellToRangeList(std::string_view reference, std::string& list) const {
    if (list.empty()) {
        list.assign(reference);
        return;
    }
    std::string_view letters;
    std::int64_t row = 0;
    if (reference.find(':') != std::string_view::npos || !splitCell(reference, letters, row)) {
        list += m_separator;
        list += reference;
        return;
    }
    const char sep = m_separator;
    std::string copy;
    copy.reserve(list.size() + reference.size() * 3 + 4);
    copy += sep;
    copy += list;
    copy += sep;
    std::string start;
    std::string end;
    if (row > 1) {
        const std::string above = std::string(letters) + std::to_string(row - 1);
        const std::string alone = sep + above + sep;
        const std::string closing = ':' + above + sep;
        if (const auto at = findText(copy, alone); at != std::string::npos) {
            start = above;
            copy.erase(at + 1, above.size() + 1);
        } else if (const auto colon = findText(copy, closing); colon != std::string::npos) {
            const auto itemStart = copy.rfind(sep, colon) + 1;
            const std::string_view first(copy.data() + itemStart, colon - itemStart);
            if (sameColumn(first, letters)) {
                start.assign(first);
                copy.erase(itemStart, colon + closing.size() - itemStart);
            }
        }
    }
    if (row < kLastJoinRow) {
        const std::string below = std::string(letters) + std::to_string(row + 1);
        const std::string alone = sep + below + sep;
        const std::string opening = sep + below + ':';
        if (const auto at = findText(copy, alone); at != std::string::npos) {
            end = below;
            copy.erase(at + 1, below.size() + 1);
        } else if (const auto at2 = findText(copy, opening); at2 != std::string::npos) {
            const auto lastStart = at2 + opening.size();
            const auto itemEnd = copy.find(sep, lastStart);
            const std::string_view last(copy.data() + lastStart, itemEnd - lastStart);
            if (sameColumn(last, letters)) {
                end.assign(last);
                copy.erase(at2 + 1, itemEnd - at2);
            }
        }
    }
    copy += start.empty() ? std::string(reference) : start;
    if (!start.empty() || !end.empty()) {
        copy += ':';
        copy += end.empty() ? std::string(reference) : end;
    }
    list.assign(copy, 1);
}

std::string CRangeFormatLists::TakeRangeChunk(std::string& list) const {
    std::string chunk;
    const auto limit = static_cast<std::size_t>(std::max(m_limit, 1));
    if (m_limit <= 1 || list.size() <= limit) {
        chunk.swap(list);
        return chunk;
    }
    const std::size_t from = limit > 50 ? limit - 50 : 0;
    std::size_t cut = std::string::npos;
    for (std::size_t at = list.find(m_separator, from); at != std::string::npos && at <= limit;
         at = list.find(m_separator, at + 1)) {
        cut = at;
    }
    if (cut == std::string::npos) {
        // An item longer than the window: cut at the first separator at all.
        cut = list.find(m_separator);
    }
    if (cut == std::string::npos) {
        chunk.swap(list);
        return chunk;
    }
    chunk.assign(list, 0, cut);
    list.erase(0, cut + 1);
    return chunk;
}

template <typename List, typename Apply>
void CRangeFormatLists::add(std::string_view reference, const List& pending, ExcelWorksheet& sheet,
                            const Apply& apply) {
    if (sheet.TakesFormatsAtOnce()) {
        apply(*sheet.Range(reference));
        return;
    }
    std::string& list = pending();
    if (list.size() + reference.size() > 2 * static_cast<std::size_t>(std::max(m_limit, 1))) {
        const std::string chunk = TakeRangeChunk(list);
        apply(*sheet.Range(chunk));
    }
    AddCellToRangeList(reference, list);
}

template <typename Apply>
void CRangeFormatLists::flush(std::string& list, ExcelWorksheet& sheet, const Apply& apply) {
    while (!list.empty()) {
        const std::string chunk = TakeRangeChunk(list);
        apply(*sheet.Range(chunk));
    }
}

void CRangeFormatLists::AddBoldRange(std::string_view reference, ExcelWorksheet& sheet) {
    const auto apply = [](ExcelRange& range) { range.SetFontBold(1); };
    if (reference.empty()) {
        flush(m_bold, sheet, apply);
    } else {
        add(
            reference, [this]() -> std::string& { return m_bold; }, sheet, apply);
    }
}

void CRangeFormatLists::AddAlignmentRange(std::string_view reference, std::int32_t alignment,
                                          ExcelWorksheet& sheet) {
    const std::int32_t code = alignment == 2 || alignment == 3 ? alignment : 1;
    const auto apply = [code](ExcelRange& range) {
        range.SetHorizontalAlignment(static_cast<std::int16_t>(code + 1));
    };
    std::string& list = m_alignment[code - 1];
    if (reference.empty()) {
        flush(list, sheet, apply);
    } else {
        add(
            reference, [&list]() -> std::string& { return list; }, sheet, apply);
    }
}

void CRangeFormatLists::AddFontSizeRange(std::string_view reference, std::int16_t size,
                                         ExcelWorksheet& sheet) {
    if (reference.empty()) {
        for (auto& [value, list] : m_fontSizes) {
            flush(list, sheet, [v = value](ExcelRange& range) { range.SetFontSize(v); });
        }
        return;
    }
    add(
        reference, [this, size]() -> std::string& { return m_fontSizes[size]; }, sheet,
        [size](ExcelRange& range) { range.SetFontSize(size); });
}

void CRangeFormatLists::AddFontColorRange(std::string_view reference, std::int32_t colour,
                                          ExcelWorksheet& sheet) {
    if (reference.empty()) {
        for (auto& [value, list] : m_fontColours) {
            flush(list, sheet, [v = value](ExcelRange& range) { range.SetFontColor(v); });
        }
        return;
    }
    add(
        reference, [this, colour]() -> std::string& { return m_fontColours[colour]; }, sheet,
        [colour](ExcelRange& range) { range.SetFontColor(colour); });
}

void CRangeFormatLists::AddFontNameRange(std::string_view reference, const std::string& name,
                                         ExcelWorksheet& sheet) {
    if (reference.empty()) {
        for (auto& [value, list] : m_fontNames) {
            flush(list, sheet, [&v = value](ExcelRange& range) { range.SetFontName(v); });
        }
        return;
    }
    add(
        reference, [this, &name]() -> std::string& { return m_fontNames[name]; }, sheet,
        [&name](ExcelRange& range) { range.SetFontName(name); });
}

void CRangeFormatLists::AddInteriorColorRange(std::string_view reference, std::int32_t colour,
                                              ExcelWorksheet& sheet) {
    if (reference.empty()) {
        for (auto& [value, list] : m_interiorColours) {
            flush(list, sheet, [v = value](ExcelRange& range) { range.SetInteriorColor(v); });
        }
        return;
    }
    add(
        reference, [this, colour]() -> std::string& { return m_interiorColours[colour]; }, sheet,
        [colour](ExcelRange& range) { range.SetInteriorColor(colour); });
}

void CRangeFormatLists::FlushPendingFormats(ExcelWorksheet& sheet) {
    AddBoldRange({}, sheet);
    for (const std::int32_t code : {1, 2, 3}) {
        AddAlignmentRange({}, code, sheet);
    }
    AddFontSizeRange({}, 0, sheet);
    AddFontColorRange({}, 0, sheet);
    AddFontNameRange({}, std::string(), sheet);
    AddInteriorColorRange({}, 0, sheet);
}

}  // namespace paginor
