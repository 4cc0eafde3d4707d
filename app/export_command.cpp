#include "app/export_command.h"

#include <algorithm>
#include <ctime>
#include <exception>
#include <filesystem>

#include "app/ui_services.h"
#include "convert/conversion_driver.h"
#include "platform/file.h"
#include "platform/file_system.h"
#include "platform/replacing_file.h"

namespace paginor {
namespace {

constexpr std::size_t kStepBufferBytes = 512;

// The export's mail messages go to the same message boxes as the rest of the command.
class ExportMailUi : public MailUi {
public:
    ExportMailUi(UiServices& ui, const std::function<bool()>& accountDialog)
        : m_ui(ui), m_accountDialog(accountDialog) {}
    void showMessage(const std::string& text, MailIcon icon) override {
        m_ui.messageBox(text, MessageButtons::Ok,
                        icon == MailIcon::Information ? MessageIcon::Information
                        : icon == MailIcon::Error     ? MessageIcon::Stop
                                                      : MessageIcon::None);
    }
    bool runAccountDialog() override { return m_accountDialog && m_accountDialog(); }

private:
    UiServices& m_ui;
    const std::function<bool()>& m_accountDialog;
};

// A mail-only export writes into a folder of its own that the dialog made; the file lives only
// for the mail.
class TemporaryFolderRemover {
public:
    explicit TemporaryFolderRemover(std::string folder) : m_folder(std::move(folder)) {}
    ~TemporaryFolderRemover() {
        std::error_code ignored;
        if (!m_folder.empty()) {
            std::filesystem::remove_all(m_folder, ignored);
        }
    }
    TemporaryFolderRemover(const TemporaryFolderRemover&) = delete;
    TemporaryFolderRemover& operator=(const TemporaryFolderRemover&) = delete;

private:
    std::string m_folder;
};

// Runs work as the window asks, so that its Cancel reaches it; what the work throws is thrown
// here.
void runLive(const ExportEnvironment& environment, const std::function<void()>& work) {
    std::exception_ptr failure;
    const std::function<void()> guarded = [&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    };
    if (environment.runWork) {
        environment.runWork(guarded);
    } else {
        guarded();
    }
    if (failure) {
        std::rethrow_exception(failure);
    }
}

bool cancelRequested(const ExportEnvironment& environment) {
    return environment.cancel != nullptr && environment.cancel->load() != 0;
}

bool hasContent(const std::string& path) {
    return RegularFileSize(path) > 0;
}

void showReportError(const CReportCore& report, UiServices& ui) {
    ui.messageBox(report.GetErrorText(), MessageButtons::Ok, MessageIcon::Stop);
}

// The options the export dialog's choices make for the conversion.
ExcelOutputOptions conversionOptions(const ToExcelSetupDlg& dialog,
                                     const ExportEnvironment& environment, std::string& stepBuffer,
                                     std::time_t& activityStamp, bool& savedAs2007) {
    ExcelOutputOptions options;
    options.mainWindowProgress = environment.progress;
    options.firstPage = dialog.m_fromPage;
    options.lastPage = dialog.m_toPage;
    options.fileFormat = dialog.m_fileFormat;
    options.rowsPerWorksheet = dialog.m_rowsPerWorksheet;
    options.engineNumber = 102;
    options.colour = dialog.m_colour;
    options.font = dialog.m_font;
    options.noNumberDetection = dialog.m_noNumberDetection;
    options.outputPath = dialog.m_outputPath;
    options.decimalCommaMode = 0;
    options.textFormatDetection = dialog.m_stringFormatDetection;
    options.markPages = true;
    options.cancel = environment.cancel;
    options.stepBuffer = &stepBuffer;
    options.stepBufferSize = kStepBufferBytes;
    options.images = true;
    options.headerFooterRemoval = false;
    options.mergeSpannedCells = true;
    options.activityStamp = &activityStamp;
    options.rowsDeletedAtTop = 0;
    options.rowsDeletedAtBottom = 0;
    options.pageByPage = false;
    options.savedAs2007 = &savedAs2007;
    options.sameLayoutBatches = true;
    options.textDirection = TextDirection::NotStated;
    return options;
}

// Writes the output file and tells the path written (a workbook's name may gain an "x"); false
// when the command ends here.
bool writeOutput(CReportCore& report, const ToExcelSetupDlg& dialog, UiServices& ui,
                 const ExportEnvironment& environment, std::string& written) {
    const std::string& path = dialog.m_outputPath;
    written = path;
    std::string notice;
    // Writing over the report while it is read would destroy it; a workbook lands on ".xlsx".
    if (IsSameFile(path, report.reportPath()) ||
        (dialog.m_task == kTaskExcel &&
         IsSameFile(OutputPathWritten(path, dialog.m_fileFormat, environment.excel),
                    report.reportPath()))) {
        ui.messageBox("Please select another file path!", MessageButtons::Ok, MessageIcon::Stop);
        return false;
    }
    if (dialog.m_task == kTaskExcel) {
        std::string stepBuffer = "Try_Start";
        std::time_t activityStamp = 0;
        bool savedAs2007 = false;
        ExcelOutputOptions options =
            conversionOptions(dialog, environment, stepBuffer, activityStamp, savedAs2007);
        options.writtenPath = &written;
        options.notice = &notice;
        options.excel = environment.excel;
        runLive(environment, [&] { OutputToExcelFile(report, options); });
    } else {
        if (!report.sourceMayBeShown()) {
            ui.messageBox("The source code is hidden, not permited to be viewed");
            return false;
        }
        runLive(environment, [&] {
            report.OutputToHtmlFile(dialog.m_fromPage, dialog.m_toPage, path, environment.cancel,
                                    environment.progress);
        });
    }
    // Cancel pressed as the file took its name: it is complete, but what was asked is not done.
    if (cancelRequested(environment)) {
        ui.messageBox(dialog.m_outputType == kOutputEmail
                          ? "The file was complete before Cancel took effect; it was not mailed."
                          : "The file " + written +
                                " was complete before Cancel took effect; it is kept, but "
                                "neither opened nor mailed.",
                      MessageButtons::Ok, MessageIcon::Information);
        return false;
    }
    // What the file could not hold is said before it is opened or mailed.
    if (!notice.empty()) {
        ui.messageBox(notice, MessageButtons::Ok, MessageIcon::Information);
    }
    return true;
}

bool mailOutput(const ToExcelSetupDlg& dialog, const std::string& path, SettingsStore& settings,
                UiServices& ui, const ExportEnvironment& environment) {
    const Clock& clock = environment.clock != nullptr ? *environment.clock : systemClock();
    SendRequest request;
    request.subject = "Oracle Report";
    request.bodyText = formatMailFooter(clock.localNow());
    request.recipients = dialog.m_mailTo;
    request.attachmentPath = path;
    ExportMailUi mailUi(ui, environment.runAccountDialog);
    return runSendSequence(settings, mailUi, request, clock, nullptr, environment.smtpPort);
}

void deliverOutput(const ToExcelSetupDlg& dialog, const std::string& path, SettingsStore& settings,
                   UiServices& ui, const ExportEnvironment& environment) {
    // A file that is missing or empty is not mailed or opened as if the export had worked.
    if (!hasContent(path)) {
        ui.messageBox("The output file is missing or empty: " + path, MessageButtons::Ok,
                      MessageIcon::Stop);
        return;
    }
    if (!dialog.m_mailTo.empty() && !mailOutput(dialog, path, settings, ui, environment)) {
        return;
    }
    // A mail-only export's file is the mail's: it is not opened.
    if (dialog.m_task == kTaskExcel && dialog.m_outputType != kOutputEmail && environment.open) {
        std::string error;
        if (!environment.open(path, error)) {
            ui.messageBox("Cannot open " + path + ": " + error, MessageButtons::Ok,
                          MessageIcon::Exclamation);
        }
    }
}

}  // namespace

void OutputToExcel(CReportCore& report, bool openedFromOutside, SettingsStore& settings,
                   UiServices& ui, const ExportEnvironment& environment) {
    ToExcelSetupDlg dialog;
    dialog.m_excel = environment.excel;
    try {
        dialog.SetPageInfo(report.GetPageCount(),
                           defaultOutputPath(report.reportPath(), report.sourceMayBeShown(),
                                             openedFromOutside, environment.homeFolder));
    } catch (const ReportError&) {
        showReportError(report, ui);
        return;
    }
    if (!environment.runDialog || !environment.runDialog(dialog)) {
        return;
    }
    WaitCursor wait(ui);
    TemporaryFolderRemover remover(dialog.m_temporaryFolder);
    try {
        std::string written;
        if (writeOutput(report, dialog, ui, environment, written)) {
            deliverOutput(dialog, written, settings, ui, environment);
        }
    } catch (const ConversionError& error) {
        ui.messageBox(error.text(), MessageButtons::Ok, MessageIcon::Stop);
    } catch (const ReportError&) {
        showReportError(report, ui);
    } catch (const std::exception& error) {
        std::string text = std::string("Runtime exception[OFS]:") + error.what();
        text.resize(std::min(text.size(), kMaxRuntimeExceptionBytes - 1));
        ui.messageBox(text, MessageButtons::Ok, MessageIcon::Stop);
    }
}

bool SaveReportAs(const std::string& reportPath, const std::string& target, UiServices& ui) {
    if (target.empty() || IsSameFile(reportPath, target)) {
        return true;
    }
    std::string error;
    ReadOnlyFile source;
    ReplacingFile copy(target);
    bool done = source.open(reportPath, error);
    if (done && !copy.create()) {
        error = copy.error();
        done = false;
    }
    std::string chunk(1 << 16, '\0');
    for (std::int64_t offset = 0; done && offset < source.size();) {
        const std::int64_t count =
            source.readAt(offset, chunk.data(), static_cast<std::int64_t>(chunk.size()));
        if (count <= 0) {
            error = reportPath + ": cannot be read";
            done = false;
        } else if (!copy.write(chunk.data(), count)) {
            error = copy.error();
            done = false;
        }
        offset += count;
    }
    if (done && !copy.commit()) {
        error = copy.error();
        done = false;
    }
    if (!done) {
        ui.messageBox("The report could not be saved as " + target + ": " + error,
                      MessageButtons::Ok, MessageIcon::Stop);
    }
    return done;
}

}  // namespace paginor
