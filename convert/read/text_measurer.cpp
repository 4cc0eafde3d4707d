#include "convert/read/text_measurer.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "platform/code_page_convert.h"

namespace paginor {

namespace {

inline constexpr std::size_t kFaceCount = 6;

struct WidthFace {
    const char* name;
    std::int32_t unitsPerEm;
    std::int32_t ascent;
    std::int32_t descent;
    std::int32_t zeroAdvance;  // for characters the tables do not hold
};

struct WidthRow {
    char32_t codePoint;
    std::array<std::uint16_t, kFaceCount> advance;
};

#include "convert/read/text_width_tables.inc"

bool containsNoCase(std::string_view text, std::string_view word) {
    if (word.size() > text.size()) {
        return false;
    }
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < word.size() && lower(text[i + k]) == word[k]) {
            ++k;
        }
        if (k == word.size()) {
            return true;
        }
    }
    return false;
}

// Full-width characters of the East Asian scripts: one em each.
bool isWide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6);
}

// Font units scaled to pixels, rounded half up as hinted integer advances are.
std::int64_t scaled(std::int64_t units, std::int64_t ppem, std::int64_t unitsPerEm) {
    return (units * ppem * 2 + unitsPerEm) / (unitsPerEm * 2);
}

}  // namespace

FaceFamily faceFamilyOf(std::string_view family) {
    for (const std::string_view word : {"courier", "mono", "consol", "lucida console"}) {
        if (containsNoCase(family, word)) {
            return FaceFamily::Mono;
        }
    }
    for (const std::string_view word : {"times", "serif", "roman", "georgia", "garamond", "book"}) {
        if (containsNoCase(family, word)) {
            return FaceFamily::Serif;
        }
    }
    return FaceFamily::Sans;
}

TextExtent TableTextMeasurer::measure(std::string_view family, std::int32_t sizePoints, bool bold,
                                      std::u16string_view text) const {
    const std::size_t face = static_cast<std::size_t>(faceFamilyOf(family)) * 2 + (bold ? 1 : 0);
    const WidthFace& metrics = kWidthFaces[face];
    // The pixel size of a font created at 96 dpi, truncated as the integer division gives it.
    const std::int64_t ppem =
        std::max<std::int64_t>(0, std::int64_t{sizePoints} * kMeasureDpi / 72);
    std::int64_t width = 0;
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        const auto row =
            std::lower_bound(std::begin(kWidthRows), std::end(kWidthRows), c,
                             [](const WidthRow& r, char32_t value) { return r.codePoint < value; });
        if (row != std::end(kWidthRows) && row->codePoint == c) {
            width += scaled(row->advance[face], ppem, metrics.unitsPerEm);
        } else if (isWide(c)) {
            width += ppem;
        } else {
            width += scaled(metrics.zeroAdvance, ppem, metrics.unitsPerEm);
        }
    }
    const std::int64_t height = scaled(metrics.ascent, ppem, metrics.unitsPerEm) +
                                scaled(metrics.descent, ppem, metrics.unitsPerEm);
    constexpr std::int64_t kLimit = INT32_MAX;
    return {static_cast<std::int32_t>(std::min(width, kLimit)),
            static_cast<std::int32_t>(std::min(height, kLimit))};
}

const TextMeasurer& defaultTextMeasurer() {
    static const TableTextMeasurer measurer;
    return measurer;
}

}  // namespace paginor
