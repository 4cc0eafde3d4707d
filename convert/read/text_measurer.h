#pragma once

// Text extents as a screen font at 96 pixels per inch gives them: the sum of the characters'
// advances, without kerning. The built-in measurer reads checked-in advance tables, so the same
// report measures the same on every machine, with no fonts installed.

#include <cstdint>
#include <string_view>

namespace paginor {

inline constexpr std::int32_t kMeasureDpi = 96;

struct TextExtent {
    std::int32_t width = 0;  // pixels
    std::int32_t height = 0;
};

class TextMeasurer {
public:
    virtual ~TextMeasurer() = default;
    // A family as a report names it ("Arial", "Times New Roman" ...), a size in points.
    virtual TextExtent measure(std::string_view family, std::int32_t sizePoints, bool bold,
                               std::u16string_view text) const = 0;
};

enum class FaceFamily { Sans, Serif, Mono };

// Case-insensitive: Courier, Consolas, Lucida Console and "mono" names are mono; Times, Georgia,
// Garamond, Book and "serif"/"roman" names are serif; everything else is sans.
FaceFamily faceFamilyOf(std::string_view family);

class TableTextMeasurer final : public TextMeasurer {
public:
    TextExtent measure(std::string_view family, std::int32_t sizePoints, bool bold,
                       std::u16string_view text) const override;
};

const TextMeasurer& defaultTextMeasurer();

}  // namespace paginor
