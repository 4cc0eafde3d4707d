#include "app/to_excel_setup.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <optional>

#include "app/export_command.h"
#include "app/ui_services.h"
#include "core/text_scan.h"
#include "platform/file_system.h"
#include "platform/folders.h"
#include "platform/replacing_file.h"
#include "platform/settings_table.h"
#include "platform/sys_error.h"

namespace paginor {
namespace {

std::size_t nameStart(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// The leading decimal digits of text as a number; nullopt without digits or beyond 32 bits.
std::optional<std::int32_t> leadingNumber(std::string_view text) {
    std::int32_t value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data() || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

void ToExcelSetupDlg::SetPageInfo(std::int32_t pageCount, const std::string& defaultPath) {
    m_pageCount = pageCount;
    m_defaultPath = defaultPath;
}

void ToExcelSetupDlg::OnInitDialog(const SettingsStore& settings) {
    m_task = kTaskExcel;
    m_fromPage = 1;
    m_toPage = m_pageCount;
    m_outputPath = m_defaultPath;
    m_fileFormat = ExportFileFormat::AutoSelect;
    m_rowsPerWorksheet = kMaxRows;
    m_colour = true;
    m_font = true;
    m_noNumberDetection = false;
    m_stringFormatDetection = false;
    if (std::optional<std::string> style = readStringSetting(settings, kStyleValue)) {
        ParseStyle(*style);
    }
    m_outputType = kOutputFile;
}

void ToExcelSetupDlg::ParseStyle(std::string_view text) {
    std::size_t position = 0;
    for (;;) {
        const std::size_t comma = text.find(',', position);
        if (comma == std::string_view::npos) {
            return;
        }
        const std::string_view item = text.substr(position, comma - position);
        if (item.find(':') == std::string_view::npos) {
            return;
        }
        position = comma + 1;
        if (item.size() < 3 || item[1] != ':') {
            continue;
        }
        const char value = item[2];
        const bool flag = value == '0' || value == '1';
        switch (item[0]) {
            case 'B':
                if (value >= '0' && value <= '3') {
                    m_fileFormat = static_cast<ExportFileFormat>(value - '0');
                }
                break;
            case 'C':
                // A hand-edited count outside the edit's range would pass unchecked.
                if (std::optional<std::int32_t> rows = leadingNumber(item.substr(2));
                    rows && *rows >= 1 && *rows <= kMaxRows) {
                    m_rowsPerWorksheet = *rows;
                }
                break;
            case 'E':
                m_colour = flag ? value == '1' : m_colour;
                break;
            case 'F':
                m_font = flag ? value == '1' : m_font;
                break;
            case 'G':
                m_noNumberDetection = flag ? value == '1' : m_noNumberDetection;
                break;
            case 'H':
                m_stringFormatDetection = flag ? value == '1' : m_stringFormatDetection;
                break;
            default:
                break;
        }
    }
}

std::string ToExcelSetupDlg::FormatStyle() const {
    auto bit = [](bool on) { return on ? "1" : "0"; };
    return "A:102,B:" + std::to_string(static_cast<std::int32_t>(m_fileFormat)) +
           ",C:" + std::to_string(m_rowsPerWorksheet) + ",D:2,E:" + bit(m_colour) +
           ",F:" + bit(m_font) + ",G:" + bit(m_noNumberDetection) +
           ",H:" + bit(m_stringFormatDetection) + ",";
}

ExportControlStates ToExcelSetupDlg::controlStates() const {
    ExportControlStates states;
    const bool excel = m_task == kTaskExcel;
    const bool formatted = excel && m_fileFormat != ExportFileFormat::Delimited;
    states.fileFormat = excel;
    states.colour = formatted;
    states.font = formatted;
    states.rowsPerWorksheet = formatted;
    states.noNumberDetection = formatted;
    states.stringFormatDetection = formatted;
    states.outputPath = m_outputType != kOutputEmail;
    states.mailTo = m_outputType == kOutputEmail || m_outputType == kOutputBoth;
    return states;
}

void ToExcelSetupDlg::SetTask(std::int32_t task) {
    m_task = task;
    DeriveFileName();
}

void ToExcelSetupDlg::DeriveFileName() {
    // Only the name part is cut: a '$' or '.' in a folder name must not move the output.
    const std::size_t start = nameStart(m_outputPath);
    std::size_t cut = m_outputPath.find_last_of('$');
    if (cut == std::string::npos || cut < start) {
        cut = m_outputPath.find_last_of('.');
        if (cut != std::string::npos && cut < start) {
            cut = std::string::npos;
        }
    }
    if (cut != std::string::npos) {
        m_outputPath.erase(cut);
    }
    m_outputPath += "$" + std::to_string(m_fromPage) + "-" + std::to_string(m_toPage) + extension();
    ShowPathWritten();
}

bool ToExcelSetupDlg::PageFieldLeft(ExportControl field, const std::string& text) {
    std::optional<std::int32_t> page = leadingNumber(text);
    if (!page || *page < 1 || *page > m_pageCount) {
        return false;
    }
    (field == ExportControl::FromPage ? m_fromPage : m_toPage) = *page;
    DeriveFileName();
    return true;
}

bool ToExcelSetupDlg::TakeNumber(const std::string& text, std::int32_t min, std::int32_t max,
                                 std::int32_t& number, UiServices& ui) {
    std::size_t first = text.find_first_not_of(' ');
    std::size_t last = text.find_last_not_of(' ');
    std::string_view digits;
    if (first != std::string::npos) {
        digits = std::string_view(text).substr(first, last - first + 1);
    }
    std::int32_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        value < min || value > max) {
        ui.messageBox("Please enter an integer between " + std::to_string(min) + " and " +
                          std::to_string(max) + ".",
                      MessageButtons::Ok, MessageIcon::Exclamation);
        return false;
    }
    number = value;
    return true;
}

void ToExcelSetupDlg::FileChosen(const std::string& path) {
    m_outputPath = path;
    m_chosenPath = path;
}

std::string ToExcelSetupDlg::fileNamePart() const {
    return m_outputPath.substr(nameStart(m_outputPath));
}

// The file goes into a new folder of the private temporary folder under the name the export
// would give it, so that the mail's attachment carries that name.
bool ToExcelSetupDlg::makeTemporaryOutput(UiServices& ui) {
    const std::string folder = privateTempFolder();
    std::string made = folder + "/mail-XXXXXX";
    if (folder.empty() || ::mkdtemp(made.data()) == nullptr) {
        ui.messageBox("Cannot create a temporary file for the output: " +
                          systemErrorText(folder.empty() ? ENOENT : errno),
                      MessageButtons::Ok, MessageIcon::Stop);
        return false;
    }
    std::string name = fileNamePart();
    if (name.empty()) {
        name = "$" + std::to_string(m_fromPage) + "-" + std::to_string(m_toPage) + extension();
    }
    m_temporaryFolder = made;
    m_outputPath = made + "/" + name;
    return true;
}

std::string ToExcelSetupDlg::pathWritten() const {
    return m_task == kTaskExcel ? OutputPathWritten(m_outputPath, m_fileFormat, m_excel)
                                : m_outputPath;
}

bool ToExcelSetupDlg::writesWorkbook() const {
    return m_task == kTaskExcel && WritesWorkbook(m_fileFormat, m_excel);
}

void ToExcelSetupDlg::ShowPathWritten() {
    m_outputPath = pathWritten();
}

void ToExcelSetupDlg::SetFileFormat(ExportFileFormat format) {
    const bool wasWorkbook = writesWorkbook();
    m_fileFormat = format;
    if (wasWorkbook && !writesWorkbook() && endsWithNoCase(m_outputPath, ".xlsx")) {
        m_outputPath.pop_back();
    }
    ShowPathWritten();
}

ExportOkResult ToExcelSetupDlg::OnOK(UiServices& ui, SettingsStore& settings) {
    ExportOkResult result;
    m_temporaryFolder.clear();
    // A page beyond the report would fail only once the dialog had gone, with every choice.
    for (const ExportControl field : {ExportControl::FromPage, ExportControl::ToPage}) {
        const std::int32_t page = field == ExportControl::FromPage ? m_fromPage : m_toPage;
        if (page < 1 || page > m_pageCount) {
            ui.messageBox(
                "Please input page number between 1 and " + std::to_string(m_pageCount) + " .",
                MessageButtons::Ok, MessageIcon::Stop);
            result.focus = field;
            result.selectLength = std::to_string(page).size();
            return result;
        }
    }
    if (m_toPage < m_fromPage) {
        ui.messageBox("The start page code should lower than end page code", MessageButtons::Ok,
                      MessageIcon::Stop);
        result.focus = ExportControl::FromPage;
        return result;
    }
    if (m_outputType == kOutputFile || m_outputType == kOutputBoth) {
        const std::size_t slash = m_outputPath.find_last_of('/');
        if (slash != std::string::npos && slash > 0) {
            const std::string folder = m_outputPath.substr(0, slash);
            if (!IsDirectory(folder)) {
                ui.messageBox("The directory " + folder + "/ doesn't exists!", MessageButtons::Ok,
                              MessageIcon::None);
                result.focus = ExportControl::OutputPath;
                result.selectLength = folder.size();
                return result;
            }
        }
        // Asked about the file that is really written; the file dialog asked about the one it
        // chose.
        const std::string written = pathWritten();
        std::string problem;
        if (!CanCreateFile(written, problem)) {
            ui.messageBox(problem, MessageButtons::Ok, MessageIcon::Stop);
            result.focus = ExportControl::OutputPath;
            result.selectLength = m_outputPath.size();
            return result;
        }
        const bool chosen = written == m_chosenPath || IsSameFile(written, m_chosenPath);
        if (!chosen && PathExists(written) &&
            ui.messageBox(written + "\nThe file exists! Overwrite ?", MessageButtons::YesNoCancel,
                          MessageIcon::None) != MessageAnswer::Yes) {
            result.focus = ExportControl::OutputPath;
            result.selectLength = m_outputPath.size();
            return result;
        }
    }
    if (m_outputType == kOutputEmail || m_outputType == kOutputBoth) {
        if (m_mailTo.empty()) {
            ui.messageBox("You should input the recipients's email address");
            result.focus = ExportControl::MailTo;
            return result;
        }
        if (m_mailTo.find('@', 1) == std::string::npos) {
            ui.messageBox("Invalid email address");
            result.focus = ExportControl::MailTo;
            result.selectLength = m_mailTo.size();
            return result;
        }
    } else {
        m_mailTo.clear();
    }
    // The temporary file is made only once nothing can keep the dialog open any more.
    if (m_outputType == kOutputEmail && !makeTemporaryOutput(ui)) {
        result.focus = ExportControl::MailTo;
        return result;
    }
    if (m_setAsDefault) {
        std::string error;
        if (!writeStringSetting(settings, kStyleValue, FormatStyle(), error)) {
            ui.messageBox("Cannot store the default options: " + error, MessageButtons::Ok,
                          MessageIcon::Exclamation);
        }
    }
    result.accepted = true;
    return result;
}

std::string defaultOutputPath(const std::string& reportPath, bool sourceMayBeShown,
                              bool openedFromOutside, const std::string& homeFolder) {
    if (!sourceMayBeShown && openedFromOutside) {
        return homeFolder + "/";
    }
    std::string path = reportPath;
    const std::size_t dot = path.find_last_of('.');
    if (dot != std::string::npos && dot >= nameStart(path)) {
        path.erase(dot);
    }
    return path + ".xls";
}

}  // namespace paginor
