#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace paginor {

// The links a worksheet holds, as the spreadsheet program documents them.
inline constexpr std::int64_t kMaxLinksPerWorksheet = 65530;

// A call the workbook application refused; the writer turns it into its step's failure.
class AutomationError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The members of the spreadsheet application's object model that the workbook writer calls, in
// its own shape. Cell references are A1 texts; a range may be a union joined by the list
// separator ("B3:B5,D4"). Texts are UTF-8. Colours are 0x00BBGGRR as the engine gives them.
class ExcelRange {
public:
    virtual ~ExcelRange() = default;
    virtual void SetValue(std::string_view text) = 0;
    // A rows x columns block of literal texts; empty strings leave their cells alone.
    virtual void SetValueArray(const std::vector<std::string>& texts, std::int32_t rows,
                               std::int32_t columns) = 0;
    virtual void SetNumberFormat(std::string_view format) = 0;
    virtual void SetNumberFormatLocal(std::string_view format) = 0;
    virtual void SetWrapText(bool wrap) = 0;
    virtual void Merge() = 0;
    virtual void SetHorizontalAlignment(std::int16_t code) = 0;  // 2 left, 3 centre, 4 right
    virtual void SetFontBold(std::int16_t bold) = 0;
    virtual void SetFontColor(std::int32_t colour) = 0;
    virtual void SetFontSize(std::int16_t size) = 0;
    virtual void SetFontName(std::string_view name) = 0;
    virtual void SetInteriorColor(std::int32_t colour) = 0;
    virtual void SetBordersLineStyle(std::int32_t style) = 0;
    virtual void SetBordersWeight(std::int32_t weight) = 0;
    virtual void EntireRowAutoFit() = 0;
    virtual void EntireColumnAutoFit() = 0;
    virtual double ColumnWidth() = 0;
    virtual void SetColumnWidth(double width) = 0;
    virtual void SetRowHeight(double height) = 0;
    virtual void EntireRowDelete(std::int32_t shift) = 0;
    virtual void Activate() = 0;
};

// Rows first .. first + count - 1, 1-based.
struct ExcelRowBlock {
    std::int32_t first;
    std::int32_t count;
};

// Columns firstColumn .. lastColumn (1-based) of placed rows whose empty places take a font as
// well; none when firstColumn > lastColumn.
struct ExcelFontFill {
    std::int32_t firstColumn = 1;
    std::int32_t lastColumn = 0;
    std::string name;  // empty: the font's name stays
    std::int16_t size = 0;
};

class ExcelWorksheet {
public:
    virtual ~ExcelWorksheet() = default;
    virtual std::unique_ptr<ExcelRange> Range(std::string_view cell1,
                                              std::string_view cell2 = {}) = 0;
    // Cells.Item(row, column) := text, entered the way a user types it.
    virtual void CellsItem(std::int32_t row, std::int32_t column, std::string_view text) = 0;
    virtual void Protect(std::string_view password) = 0;
    virtual void Activate() = 0;
    virtual void HPageBreaksAdd(std::string_view before) = 0;
    virtual void HyperlinksAdd(std::string_view anchor, std::string_view address,
                               std::string_view textToDisplay) = 0;
    virtual void SetDisplayRightToLeft(bool rightToLeft) = 0;
    // Pictures.Insert, then the shape's LockAspectRatio 0, Height and Width in points.
    virtual void PicturesInsert(std::string_view path, double height, double width) = 0;
    // No object-model calls. A workbook that writes rows out as soon as they are settled says
    // so; the caller then promises that rows before `row` (1-based, numbered as written, before
    // any deletion) take no more values, formats, merges or links, and that of them only the
    // rows of `deleted` and of the blocks given by the calls before will be deleted.
    virtual bool WritesSettledRows() const { return false; }
    virtual void RowsSettled(std::int32_t /*row*/, const std::vector<ExcelRowBlock>& /*deleted*/) {}
    // A sheet that takes a format cell by cell as cheaply as over a union range: the writer then
    // gives each format at once instead of gathering ranges.
    virtual bool TakesFormatsAtOnce() const { return false; }
    // Places rows first .. first + count - 1 (1-based) of a batch sheet of the same application
    // from row at on, the fill's columns given the font too. The rows take no more calls here; the
    // settled-rows promise holds for them as for rows written here.
    virtual void PlaceMadeRows(const std::shared_ptr<ExcelWorksheet>& /*made*/,
                               std::int32_t /*first*/, std::int32_t /*count*/, std::int32_t /*at*/,
                               const ExcelFontFill& /*fill*/) {
        throw AutomationError("this worksheet takes no rows made apart");
    }
};

class ExcelWorkbook {
public:
    virtual ~ExcelWorkbook() = default;
    virtual std::int32_t WorksheetsCount() = 0;
    virtual ExcelWorksheet& WorksheetsItem(std::int32_t index) = 0;  // 1-based
    virtual void WorksheetsAddAfterLast() = 0;
    virtual void ProtectSharing(std::string_view password) = 0;
    // Saves the workbook to path. keep, when given, is asked while the file is written and once
    // it is complete and on the disk, before it takes the name: when it says no, the save stops,
    // path keeps what it held and the answer is false.
    virtual bool SaveCopyAs(const std::string& path, const std::function<bool()>& keep) = 0;
    void SaveCopyAs(const std::string& path) { SaveCopyAs(path, nullptr); }
    virtual void Close() = 0;  // without saving
    // The links the last copy saved left out, past the kMaxLinksPerWorksheet a worksheet holds;
    // their cells keep their texts.
    virtual std::int64_t LinksLeftOut() const { return 0; }
};

class ExcelApplication {
public:
    virtual ~ExcelApplication() = default;
    virtual std::string Version() = 0;
    virtual ExcelWorkbook& WorkbooksAdd() = 0;
    virtual void SetDisplayAlerts(bool on) = 0;
    virtual void Quit() = 0;
    // A worksheet of its own for one batch's rows, apart from the workbook, which any thread may
    // fill while others fill theirs and which a sheet of the workbook then places; null when the
    // application has none. Any thread may ask for one.
    virtual std::shared_ptr<ExcelWorksheet> NewBatchSheet() { return nullptr; }
    // The threads the application may use besides the caller's for its own work.
    virtual void SetWorkerThreads(std::int32_t /*threads*/) {}
};

// Starts the application; throws AutomationError when it cannot.
using ExcelLauncher = std::function<std::unique_ptr<ExcelApplication>()>;

}  // namespace paginor
