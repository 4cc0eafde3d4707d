// The batching of a conversion: the first-row layout of a page's table, the list numbers it
// compares, and the size of the next batch; and the number of threads a conversion uses.

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

#include "convert/conversion_driver.h"
#include "convert/convert_errors.h"
#include "core/report_core.h"

namespace paginor {

namespace {

constexpr std::size_t kTableSearchBytes = 256;
constexpr std::size_t kMaxListPiece = 32;

bool startsNoCase(std::string_view text, std::size_t at, std::string_view word) {
    if (at + word.size() > text.size()) {
        return false;
    }
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char a = text[at + i];
        const char lower = a >= 'A' && a <= 'Z' ? static_cast<char>(a + 32) : a;
        if (lower != word[i]) {
            return false;
        }
    }
    return true;
}

std::size_t findNoCase(std::string_view text, std::string_view word, std::size_t from,
                       std::size_t end = std::string_view::npos) {
    end = std::min(end, text.size());
    for (std::size_t at = from; at + word.size() <= end; ++at) {
        if (startsNoCase(text, at, word)) {
            return at;
        }
    }
    return std::string_view::npos;
}

[[noreturn]] void fail(std::int32_t code, std::string text) {
    throw ConversionError(code, std::move(text));
}

std::int32_t readNumberAfter(std::string_view tag, std::size_t at) {
    while (at < tag.size() && (tag[at] < '0' || tag[at] > '9')) {
        ++at;
    }
    std::int32_t value = 0;
    for (; at < tag.size() && tag[at] >= '0' && tag[at] <= '9'; ++at) {
        value = std::min(value * 10 + (tag[at] - '0'), 100000000);
    }
    return value;
}

}  // namespace

std::int32_t ConversionThreads(std::int32_t requested, const char* variable, unsigned cores) {
    if (requested > 0) {
        return std::min(requested, kMaxThreads);
    }
    if (variable != nullptr && *variable != '\0') {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(variable, &end, 10);
        if (errno != 0 || *end != '\0' || value < 1 || value > kMaxThreads) {
            return 0;
        }
        return static_cast<std::int32_t>(value);
    }
    return static_cast<std::int32_t>(std::clamp(cores, 1U, kDefaultMaxThreads));
}

std::int32_t ConversionThreads(std::int32_t requested) {
    return ConversionThreads(requested, std::getenv(kThreadsVariable),
                             std::thread::hardware_concurrency());
}

FirstRowLayout ParseFirstRowWidths(std::string_view text) {
    FirstRowLayout layout;
    std::size_t table = 0;
    if (!startsNoCase(text, 0, "<table ")) {
        table = findNoCase(text, "<table ", 0, kTableSearchBytes);
        if (table == std::string_view::npos) {
            fail(kErrNoTable, errorTableText(kErrNoTable));
        }
    }
    const auto tableEnd = text.find('>', table);
    if (tableEnd == std::string_view::npos) {
        fail(kErrNoTableTagEnd, errorTableText(kErrNoTableTagEnd));
    }
    const auto row = findNoCase(text, "<tr", tableEnd);
    if (row == std::string_view::npos) {
        fail(kErrNoRow, errorTableText(kErrNoRow));
    }
    auto rowEnd = findNoCase(text, "</tr>", row);
    if (rowEnd == std::string_view::npos) {
        rowEnd = findNoCase(text, "<tr", row + 3);
        if (rowEnd == std::string_view::npos) {
            fail(kErrNoRowEnd, errorTableText(kErrNoRowEnd));
        }
    }
    const std::string_view rowText = text.substr(0, rowEnd);
    for (auto cell = findNoCase(rowText, "<td", row); cell != std::string_view::npos;
         cell = findNoCase(rowText, "<td", cell + 3)) {
        const auto close = rowText.find('>', cell);
        const std::string_view tag = rowText.substr(
            cell, close == std::string_view::npos ? rowText.size() - cell : close - cell);
        const auto width = findNoCase(tag, "width=", 0);
        if (width == std::string_view::npos) {
            break;
        }
        const std::int32_t value = readNumberAfter(tag, width + 6);
        layout.widthSum += value;
        layout.widths += std::to_string(value) + ",";
        const auto span = findNoCase(tag, "colspan=", 0);
        layout.columnCount += span == std::string_view::npos ? 1 : readNumberAfter(tag, span + 8);
    }
    return layout;
}

bool ReadNextListNumber(std::string_view list, std::size_t& position, std::int64_t& value) {
    if (position >= list.size()) {
        return false;
    }
    auto comma = list.find(',', position);
    if (comma == std::string_view::npos) {
        comma = list.size();
    }
    const std::string_view piece = list.substr(position, comma - position);
    position = comma + 1;
    if (piece.size() >= kMaxListPiece) {
        return false;
    }
    value = 0;
    for (const char c : piece) {
        if (c >= '0' && c <= '9') {
            value = value * 10 + (c - '0');
        }
    }
    return true;
}

bool IsSameColumnLayout(std::string_view a, std::string_view b) {
    if (a.size() == b.size() && startsNoCase(a, 0, std::string(b))) {
        return true;
    }
    // An over-long piece cannot be compared: the layouts count as different.
    for (const std::string_view list : {a, b}) {
        for (std::size_t at = 0, end; at < list.size(); at = end + 1) {
            end = std::min(list.find(',', at), list.size());
            if (end - at >= kMaxListPiece) {
                return false;
            }
        }
    }
    // Two lists are one layout when one only groups the other's widths: every column boundary
    // of the coarser list is a boundary of the finer one ("100,50" and "150" agree, "100,50" and
    // "50,100" do not).
    auto boundaries = [](std::string_view list) {
        std::vector<std::int64_t> sums;
        std::int64_t sum = 0;
        std::int64_t value = 0;
        for (std::size_t at = 0; ReadNextListNumber(list, at, value);) {
            sum += value;
            sums.push_back(sum);
        }
        return sums;
    };
    const std::vector<std::int64_t> left = boundaries(a);
    const std::vector<std::int64_t> right = boundaries(b);
    auto within = [](const std::vector<std::int64_t>& coarse,
                     const std::vector<std::int64_t>& fine) {
        return std::includes(fine.begin(), fine.end(), coarse.begin(), coarse.end());
    };
    return within(left, right) || within(right, left);
}

void ScanTables(char* text, std::size_t length) {
    static constexpr std::string_view kTags[] = {"<table ", "<td>",  "<td ",  "<tr>",
                                                 "<tr ",    "</td>", "</tr>", "</table>"};
    const std::string_view view(text, length);
    const auto first = findNoCase(view, "<table ", 0);
    if (first == std::string_view::npos) {
        return;
    }
    for (auto inner = findNoCase(view, "<table ", first + 7); inner != std::string_view::npos;) {
        const auto close = findNoCase(view, "</table>", inner);
        const auto end = close == std::string_view::npos ? length : close + 8;
        for (auto at = view.find('<', inner); at != std::string_view::npos && at < end;
             at = view.find('<', at + 1)) {
            const bool listed =
                std::any_of(std::begin(kTags), std::end(kTags),
                            [&](std::string_view tag) { return startsNoCase(view, at, tag); });
            if (!listed) {
                continue;
            }
            const auto gt = view.find('>', at);
            const auto stop = gt == std::string_view::npos ? length : gt + 1;
            std::fill(text + at, text + stop, ' ');
            at = stop - 1;
        }
        if (close == std::string_view::npos) {
            return;
        }
        inner = findNoCase(view, "<table ", end);
    }
}

bool InSamePageBlock(std::int32_t a, std::int32_t b) {
    return a / kPageBlock == b / kPageBlock && (a % kPageBlock == 0) == (b % kPageBlock == 0);
}

std::int32_t GetNextBatchSize(const BatchSource& source, std::int32_t lastPage,
                              std::int32_t firstPage, BatchLayoutState& state, bool pageByPage,
                              bool sameLayoutCheck) {
    const std::int32_t maximum = pageByPage ? 1 : kMaxBatchPages;
    if (firstPage > lastPage) {
        return 0;
    }
    std::int32_t count = lastPage - firstPage + 1;
    if (source.html) {
        if (firstPage > state.scanPosition) {
            state.scanPosition = lastPage;
            for (std::int32_t p = firstPage; p <= lastPage; ++p) {
                FirstRowLayout layout = source.layout(p);
                if (p == firstPage) {
                    if (state.widthSum <= 0) {
                        state.widthSum = layout.widthSum;
                    }
                    state.first = std::move(layout);
                    continue;
                }
                const bool breaks = layout.widthSum != state.widthSum ||
                                    (sameLayoutCheck && p != lastPage &&
                                     !IsSameColumnLayout(layout.widths, state.first.widths));
                if (breaks) {
                    state.scanPosition = p - 1;
                    state.widthSum = layout.widthSum;
                    break;
                }
            }
        }
        count = std::max(state.scanPosition - firstPage + 1, 0);
    } else {
        const std::int32_t blockEnd =
            firstPage % kPageBlock == 0 ? firstPage : firstPage | (kPageBlock - 1);
        count = std::min(lastPage, blockEnd) - firstPage + 1;
    }
    if (count == 0) {
        return 0;
    }
    const std::int32_t batches = (count - 1) / maximum + 1;
    std::int32_t size = count / batches;
    if (size > 1) {
        std::int64_t total = 0;
        for (std::int32_t i = 0; i < size; ++i) {
            total += source.pageLength(firstPage + i);
            if (total > kMaxBatchBytes) {
                size = i + 1;
                break;
            }
        }
    }
    return size;
}

}  // namespace paginor
