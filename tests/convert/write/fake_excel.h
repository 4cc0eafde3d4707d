#pragma once

// A recording stand-in for the workbook application: every call lands in one log as a line such
// as "Range(B3:B5).Font.Bold=1", and chosen calls can be refused.

#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "convert/write/excel_automation.h"

namespace paginor::testing {

struct FakeExcelSettings {
    std::string version = "16.0";
    int defaultSheets = 1;
    bool refuseComma = false;      // union ranges joined by ','
    bool refuseSemicolon = false;  // union ranges joined by ';'
    bool refuseNumberFormat = false;
    bool failSave = false;
    // Called with the path of every save, after it was logged.
    std::function<void(const std::string&)> onSave;
};

struct FakeExcelLog {
    std::vector<std::string> calls;
    std::string savedPath;

    bool has(std::string_view call) const {
        for (const auto& c : calls) {
            if (c == call) {
                return true;
            }
        }
        return false;
    }
    std::size_t count(std::string_view prefix) const {
        std::size_t n = 0;
        for (const auto& c : calls) {
            n += c.starts_with(prefix) ? 1 : 0;
        }
        return n;
    }
    // The position of the first call, calls.size() when absent.
    std::size_t find(std::string_view call) const {
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (calls[i] == call) {
                return i;
            }
        }
        return calls.size();
    }
};

class FakeRange : public ExcelRange {
public:
    FakeRange(FakeExcelLog& log, const FakeExcelSettings& settings, std::string name)
        : m_log(log), m_settings(settings), m_name(std::move(name)) {}
    void SetValue(std::string_view text) override { put(".Value=" + std::string(text)); }
    void SetValueArray(const std::vector<std::string>& texts, std::int32_t rows,
                       std::int32_t columns) override {
        std::string line = ".Value=[";
        for (std::int32_t r = 0; r < rows; ++r) {
            for (std::int32_t c = 0; c < columns; ++c) {
                line += (c > 0 ? "|" : "") + texts[static_cast<std::size_t>(r * columns + c)];
            }
            line += r + 1 < rows ? "/" : "";
        }
        put(line + "]");
    }
    void SetNumberFormat(std::string_view format) override {
        refuseFormat();
        put(".NumberFormat=" + std::string(format));
    }
    void SetNumberFormatLocal(std::string_view format) override {
        refuseFormat();
        put(".NumberFormatLocal=" + std::string(format));
    }
    void SetWrapText(bool wrap) override { put(std::string(".WrapText=") + (wrap ? "1" : "0")); }
    void Merge() override { put(".Merge"); }
    void SetHorizontalAlignment(std::int16_t code) override {
        put(".HorizontalAlignment=" + std::to_string(code));
    }
    void SetFontBold(std::int16_t bold) override { put(".Font.Bold=" + std::to_string(bold)); }
    void SetFontColor(std::int32_t colour) override { put(".Font.Color=" + hex(colour)); }
    void SetFontSize(std::int16_t size) override { put(".Font.Size=" + std::to_string(size)); }
    void SetFontName(std::string_view name) override { put(".Font.Name=" + std::string(name)); }
    void SetInteriorColor(std::int32_t colour) override { put(".Interior.Color=" + hex(colour)); }
    void SetBordersLineStyle(std::int32_t style) override {
        put(".Borders.LineStyle=" + std::to_string(style));
    }
    void SetBordersWeight(std::int32_t weight) override {
        put(".Borders.Weight=" + std::to_string(weight));
    }
    void EntireRowAutoFit() override { put(".EntireRow.AutoFit"); }
    void EntireColumnAutoFit() override { put(".EntireColumn.AutoFit"); }
    double ColumnWidth() override { return 30; }
    void SetColumnWidth(double width) override {
        put(".ColumnWidth=" + std::to_string(static_cast<int>(width)));
    }
    void SetRowHeight(double height) override {
        put(".RowHeight=" + std::to_string(static_cast<int>(height)));
    }
    void EntireRowDelete(std::int32_t shift) override {
        put(".EntireRow.Delete(" + std::to_string(shift) + ")");
    }
    void Activate() override { put(".Activate"); }

private:
    static std::string hex(std::int32_t value) {
        char text[16];
        std::snprintf(text, sizeof text, "%06X", static_cast<unsigned>(value));
        return text;
    }
    void refuseFormat() {
        if (m_settings.refuseNumberFormat) {
            throw AutomationError("number format refused");
        }
    }
    void put(const std::string& what) { m_log.calls.push_back("Range(" + m_name + ")" + what); }

    FakeExcelLog& m_log;
    const FakeExcelSettings& m_settings;
    std::string m_name;
};

class FakeWorksheet : public ExcelWorksheet {
public:
    FakeWorksheet(FakeExcelLog& log, const FakeExcelSettings& settings, int index)
        : m_log(log), m_settings(settings), m_prefix("Sheet" + std::to_string(index) + ".") {}
    std::unique_ptr<ExcelRange> Range(std::string_view cell1, std::string_view cell2) override {
        std::string name(cell1);
        if (!cell2.empty()) {
            name += ":" + std::string(cell2);
        }
        if ((m_settings.refuseComma && name.find(',') != std::string::npos) ||
            (m_settings.refuseSemicolon && name.find(';') != std::string::npos)) {
            m_log.calls.push_back("refused Range(" + name + ")");
            throw AutomationError("range refused");
        }
        return std::make_unique<FakeRange>(m_log, m_settings, name);
    }
    void CellsItem(std::int32_t row, std::int32_t column, std::string_view text) override {
        put("Cells(" + std::to_string(row) + "," + std::to_string(column) +
            ")=" + std::string(text));
    }
    void Protect(std::string_view password) override {
        put("Protect(" + std::string(password) + ")");
    }
    void Activate() override { put("Activate"); }
    void HPageBreaksAdd(std::string_view before) override {
        put("HPageBreaks.Add(" + std::string(before) + ")");
    }
    void HyperlinksAdd(std::string_view anchor, std::string_view address,
                       std::string_view text) override {
        put("Hyperlinks.Add(" + std::string(anchor) + "," + std::string(address) + "," +
            std::string(text) + ")");
    }
    void SetDisplayRightToLeft(bool on) override {
        put(std::string("DisplayRightToLeft=") + (on ? "1" : "0"));
    }
    void PicturesInsert(std::string_view path, double height, double width) override {
        put("Pictures.Insert(" + std::string(path) + "," +
            std::to_string(static_cast<int>(height)) + "," +
            std::to_string(static_cast<int>(width)) + ")");
    }

private:
    void put(const std::string& what) { m_log.calls.push_back(m_prefix + what); }
    FakeExcelLog& m_log;
    const FakeExcelSettings& m_settings;
    std::string m_prefix;
};

class FakeWorkbook : public ExcelWorkbook {
public:
    FakeWorkbook(FakeExcelLog& log, const FakeExcelSettings& settings)
        : m_log(log), m_settings(settings) {
        for (int i = 0; i < settings.defaultSheets; ++i) {
            addSheet();
        }
    }
    std::int32_t WorksheetsCount() override { return static_cast<std::int32_t>(m_sheets.size()); }
    ExcelWorksheet& WorksheetsItem(std::int32_t index) override {
        return *m_sheets.at(static_cast<std::size_t>(index - 1));
    }
    void WorksheetsAddAfterLast() override {
        m_log.calls.push_back("Worksheets.Add");
        addSheet();
    }
    void ProtectSharing(std::string_view password) override {
        m_log.calls.push_back("ProtectSharing(" + std::string(password) + ")");
    }
    bool SaveCopyAs(const std::string& path, const std::function<bool()>& keep) override {
        if (m_settings.failSave) {
            throw AutomationError("disk full");
        }
        m_log.calls.push_back("SaveCopyAs(" + path + ")");
        m_log.savedPath = path;
        // Written whole beside the path, and given its name only when it is kept.
        const std::string written = path + ".saving";
        if (m_settings.onSave) {
            m_settings.onSave(written);
        }
        if (keep && !keep()) {
            std::remove(written.c_str());
            return false;
        }
        std::rename(written.c_str(), path.c_str());
        return true;
    }
    void Close() override { m_log.calls.push_back("Close"); }

private:
    void addSheet() {
        m_sheets.push_back(std::make_unique<FakeWorksheet>(m_log, m_settings,
                                                           static_cast<int>(m_sheets.size()) + 1));
    }
    FakeExcelLog& m_log;
    const FakeExcelSettings& m_settings;
    std::vector<std::unique_ptr<FakeWorksheet>> m_sheets;
};

class FakeExcel : public ExcelApplication {
public:
    FakeExcel(FakeExcelLog& log, const FakeExcelSettings& settings)
        : m_log(log), m_settings(settings) {}
    std::string Version() override { return m_settings.version; }
    ExcelWorkbook& WorkbooksAdd() override {
        m_log.calls.push_back("Workbooks.Add");
        m_workbook = std::make_unique<FakeWorkbook>(m_log, m_settings);
        return *m_workbook;
    }
    void SetDisplayAlerts(bool on) override {
        m_log.calls.push_back(std::string("DisplayAlerts=") + (on ? "1" : "0"));
    }
    void Quit() override { m_log.calls.push_back("Quit"); }

private:
    FakeExcelLog& m_log;
    const FakeExcelSettings& m_settings;
    std::unique_ptr<FakeWorkbook> m_workbook;
};

}  // namespace paginor::testing
