#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "convert/conversion_driver.h"

namespace paginor {

class SettingsStore;
class UiServices;

// Controls of the export dialog, by their resource ids.
enum class ExportControl : int {
    None = 0,
    OpenButton = 1006,
    OutputPath = 1039,
    TaskHtml = 1040,
    TaskExcel = 1041,
    FromPage = 1042,
    ToPage = 1044,
    FileFormat = 1046,
    Colour = 1047,
    Font = 1048,
    RowsPerWorksheet = 1049,
    SetAsDefault = 1051,
    NoNumberDetection = 1052,
    StringFormatDetection = 1069,
    TypeFile = 1079,
    TypeEmail = 1080,
    TypeBoth = 1081,
    MailTo = 1082,
};

enum ExportTask : std::int32_t { kTaskHtml = 0, kTaskExcel = 1 };
enum ExportOutputType : std::int32_t { kOutputFile = 1, kOutputEmail = 2, kOutputBoth = 3 };

// Which of the dialog's controls take input.
struct ExportControlStates {
    bool fileFormat = true;
    bool colour = true;
    bool font = true;
    bool rowsPerWorksheet = true;
    bool noNumberDetection = true;
    bool stringFormatDetection = true;
    bool outputPath = true;
    bool mailTo = false;
    bool operator==(const ExportControlStates&) const = default;
};

// What OK made of the dialog: accepted, or the control that gets the focus, with the part of its
// text to select.
struct ExportOkResult {
    bool accepted = false;
    ExportControl focus = ExportControl::None;
    std::size_t selectStart = 0;
    std::size_t selectLength = 0;
};

// The export dialog's choices and rules, apart from its widgets: the window copies its controls
// into these members before each rule and back afterwards.
class ToExcelSetupDlg {
public:
    static constexpr std::int32_t kMaxPage = 2000000;
    static constexpr std::int32_t kMaxRows = 65000;
    static constexpr std::size_t kMaxStyleBytes = 260;

    void SetPageInfo(std::int32_t pageCount, const std::string& defaultPath);
    // The defaults, then the stored "style" over them; output type File.
    void OnInitDialog(const SettingsStore& settings);
    void ParseStyle(std::string_view text);
    std::string FormatStyle() const;

    ExportControlStates controlStates() const;
    void SetTask(std::int32_t task);
    // Cuts the output path's own name at its '$' or extension and appends "$from-to" and the
    // task's extension; a workbook's is ".xlsx".
    void DeriveFileName();
    // A page edit was left holding text: a page within 1..page count is taken and the name
    // derived; false sends the focus back.
    bool PageFieldLeft(ExportControl field, const std::string& text);
    // A number edit's text within min..max, or the range message and false.
    static bool TakeNumber(const std::string& text, std::int32_t min, std::int32_t max,
                           std::int32_t& number, UiServices& ui);
    // A path chosen in the file dialog becomes the output path.
    void FileChosen(const std::string& path);
    // The name part of the output path, offered by the file dialog.
    std::string fileNamePart() const;

    ExportOkResult OnOK(UiServices& ui, SettingsStore& settings);
    // The path the export writes: a workbook's name gets ".xlsx" (WorkbookPath2007).
    std::string pathWritten() const;
    // True when the choices write an xlsx workbook.
    bool writesWorkbook() const;
    // The output path becomes the path the export writes, so that the dialog shows that name.
    void ShowPathWritten();
    // Another file format: a workbook's ".xlsx" name is given back its ".xls" when the new
    // format writes no workbook, then the name written is shown.
    void SetFileFormat(ExportFileFormat format);

    std::string m_chosenPath;
    std::int32_t m_pageCount = 0;
    std::string m_defaultPath;
    std::int32_t m_task = kTaskExcel;
    std::int32_t m_fromPage = 1;
    std::int32_t m_toPage = 1;
    bool m_colour = true;
    bool m_font = true;
    ExportFileFormat m_fileFormat = ExportFileFormat::AutoSelect;
    std::string m_outputPath;
    std::int32_t m_rowsPerWorksheet = kMaxRows;
    bool m_setAsDefault = false;
    bool m_noNumberDetection = false;
    bool m_stringFormatDetection = false;
    std::string m_mailTo;
    std::int32_t m_outputType = kOutputFile;
    // The workbook application the conversion starts: it decides the name a workbook gets.
    ExcelLauncher m_excel = StartXlsxApplication;
    // The folder OK made for a mail-only export's file; the command removes it after the mail.
    std::string m_temporaryFolder;

private:
    const char* extension() const { return m_task == kTaskExcel ? ".xls" : ".htm"; }
    bool makeTemporaryOutput(UiServices& ui);
};

// The export dialog's Help: which programs open each kind of file and how.
inline constexpr const char* kExportKindsHelp =
    "Which program opens each kind of file:\n\n"
    "Auto Select, Native Excel: an Excel workbook (.xlsx). Excel and LibreOffice Calc open it as "
    "a workbook.\n\n"
    "Delimited: UTF-8 text with a TAB between the cells, named .xls. LibreOffice opens it through "
    "its text import: choose Tab as the separator there, or the rows are cut at every comma. Excel "
    "opens it as tab-delimited text once it has warned that the file's format does not match its "
    ".xls name.\n\n"
    "Excel compatible: a single-file web page (a MIME web archive), named .xls. Excel opens it as "
    "a workbook after the same warning. LibreOffice cannot read it as a workbook: it shows the "
    "archive's lines of MIME text.\n\n"
    "Get Html Page: the report's own HTML (.htm), for a web browser. Excel opens it too, a web "
    "page being one of its formats; LibreOffice Calc takes its tables into cells when the file is "
    "opened with Calc's HTML import.";

// The path the export offers first: the report's path with the extension ".xls"; for a report
// whose source may not be shown and that was not opened by the user, the home folder.
std::string defaultOutputPath(const std::string& reportPath, bool sourceMayBeShown,
                              bool openedFromOutside, const std::string& homeFolder);

}  // namespace paginor
