#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

inline constexpr std::int32_t kCellKindText = 0;
inline constexpr std::int32_t kCellKindDate = 1;
inline constexpr std::int32_t kCellKindNumber = 2;

// Conventions learned from the first cells that reveal them, in report order; once decided they
// hold for the rest of the export.
struct tagCellDetectOptions {
    // 0 undecided; 1 decimal comma with '.' thousands; 2 decimal point with ',' thousands;
    // 3 decimal comma with space thousands.
    std::int32_t numberStyle = 0;
    // 0 undecided; 1 month first; 2 day first.
    std::int32_t dateOrder = 0;

    void Reset();
    void SetDefaults();
    bool IsSet() const;
    bool operator==(const tagCellDetectOptions&) const = default;
};

// What holds after a batch: the conventions decided before it, and for those still undecided,
// what the batch's own cells decided. Numbers and dates are told by different texts, so what a
// batch decides on its own is what it decides after any batches before it.
tagCellDetectOptions FoldConventions(const tagCellDetectOptions& before,
                                     const tagCellDetectOptions& batch);

struct tagCellDetectResult {
    bool detected = false;
    std::int32_t kind = kCellKindText;
    std::string format;  // the number format, empty for none
    std::string value;   // the normalised value, empty for none
};

// Recognises numbers and dates in cell texts and gives their normalised value and format.
class CCellValueDetector {
public:
    void Detect(std::string_view text, tagCellDetectResult& result);

    tagCellDetectOptions& options() { return m_options; }
    const tagCellDetectOptions& options() const { return m_options; }

    // Codes of the separator scan: 0 ambiguous, 1 to 3 the number styles, 4 not a number.
    static std::int32_t DetectSeparators(std::string_view text);
    static std::int32_t DetectNumberFormat(std::string_view text);
    static bool IsNumber(std::string_view text);
    static bool IsDigits(std::string_view text);
    static std::int32_t MonthFromName(std::string_view name);

private:
    bool DetectNumber(std::string_view text, tagCellDetectResult& result);
    bool DetectDate(std::string_view text, tagCellDetectResult& result);
    bool DetectMonthNameDate(std::string_view text, tagCellDetectResult& result);

    char m_decimalMark = '.';
    char m_thousandsMark = ',';
    tagCellDetectOptions m_options;
};

// The one reading of a cell text as a number or a date that every workbook writer types its
// values by, with the export's conventions; it learns nothing. Numbers take a sign ('-', '+' or
// parentheses) and a leading '$'; one whose marks the conventions would read the other way round,
// or with more than 15 significant digits, stays text.
void ReadCellValue(std::string_view text, const tagCellDetectOptions& conventions,
                   tagCellDetectResult& result);

// Decimal and thousands marks of the digits in [start, end] ('.' and ',' only): 0 none or
// ambiguous, 1 decimal comma, 2 decimal point, 3 inconsistent.
std::int32_t DetectNumberSeparatorsInRange(const char* start, const char* end);

}  // namespace paginor
