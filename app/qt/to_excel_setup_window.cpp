#include "app/qt/to_excel_setup_window.h"

#include <QButtonGroup>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ui_services.h"

namespace paginor {
namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

}  // namespace

ToExcelSetupWindow::ToExcelSetupWindow(ToExcelSetupDlg& choices, SettingsStore& settings,
                                       UiServices& ui, QWidget* parent)
    : QDialog(parent), m_choices(choices), m_settings(settings), m_ui(ui) {
    setWindowTitle(tr("Output to Excel or HTML file"));

    m_taskExcel = new QRadioButton(tr("Convert to Excel"), this);
    m_taskHtml = new QRadioButton(tr("Get Html Page"), this);
    auto* tasks = new QButtonGroup(this);
    tasks->addButton(m_taskExcel);
    tasks->addButton(m_taskHtml);
    m_from = new QLineEdit(this);
    m_to = new QLineEdit(this);
    m_colour = new QCheckBox(tr("Enable Color"), this);
    m_font = new QCheckBox(tr("Enable Font"), this);
    m_format = new QComboBox(this);
    m_format->addItems(
        {tr("Auto Select"), tr("Delimited"), tr("Native Excel"), tr("Excel compatible")});
    m_path = new QLineEdit(this);
    m_open = new QPushButton(tr("Open ..."), this);
    m_rows = new QLineEdit(this);
    m_setAsDefault = new QCheckBox(tr("Set as default"), this);
    m_noNumber = new QCheckBox(tr("Disable Number Format Detection"), this);
    m_stringFormat = new QCheckBox(tr("Enable non-number string format detection"), this);
    m_mailTo = new QLineEdit(this);
    m_typeFile = new QRadioButton(tr("File"), this);
    m_typeEmail = new QRadioButton(tr("Email"), this);
    m_typeBoth = new QRadioButton(tr("Both"), this);
    auto* types = new QButtonGroup(this);
    types->addButton(m_typeFile);
    types->addButton(m_typeEmail);
    types->addButton(m_typeBoth);

    auto* taskRow = new QHBoxLayout;
    taskRow->addWidget(m_taskExcel);
    taskRow->addWidget(m_taskHtml);
    auto* pageRow = new QHBoxLayout;
    pageRow->addWidget(new QLabel(tr("From"), this));
    pageRow->addWidget(m_from);
    pageRow->addWidget(new QLabel(tr("To"), this));
    pageRow->addWidget(m_to);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(m_open);
    auto* typeRow = new QHBoxLayout;
    typeRow->addWidget(m_typeFile);
    typeRow->addWidget(m_typeEmail);
    typeRow->addWidget(m_typeBoth);

    auto* form = new QFormLayout;
    form->addRow(taskRow);
    form->addRow(tr("Pages"), pageRow);
    form->addRow(tr("File format"), m_format);
    form->addRow(m_colour);
    form->addRow(m_font);
    form->addRow(tr("Rows in worksheet"), m_rows);
    form->addRow(m_noNumber);
    form->addRow(m_stringFormat);
    form->addRow(tr("Output"), typeRow);
    form->addRow(tr("File Path"), pathRow);
    form->addRow(tr("Mail TO"), m_mailTo);
    form->addRow(m_setAsDefault);

    auto* buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Help, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_help = buttons->button(QDialogButtonBox::Help);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    m_choices.OnInitDialog(m_settings);
    m_choices.ShowPathWritten();
    fillControls();
    applyStates();

    connect(m_taskExcel, &QRadioButton::clicked, this, [this] { OnTaskChanged(); });
    connect(m_taskHtml, &QRadioButton::clicked, this, [this] { OnTaskChanged(); });
    connect(m_format, &QComboBox::currentIndexChanged, this, [this] { OnFormatChanged(); });
    for (QRadioButton* type : {m_typeFile, m_typeEmail, m_typeBoth}) {
        connect(type, &QRadioButton::clicked, this, [this] { OnOutputTypeChanged(); });
    }
    connect(m_from, &QLineEdit::editingFinished, this,
            [this] { OnPageFieldLeft(ExportControl::FromPage); });
    connect(m_to, &QLineEdit::editingFinished, this,
            [this] { OnPageFieldLeft(ExportControl::ToPage); });
    connect(m_path, &QLineEdit::editingFinished, this, [this] { OnPathLeft(); });
    connect(m_open, &QPushButton::clicked, this, [this] { OnOpenFile(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::helpRequested, this, [this] {
        m_ui.messageBox(kExportKindsHelp, MessageButtons::Ok, MessageIcon::Information);
    });
}

void ToExcelSetupWindow::fillControls() {
    const QSignalBlocker blockFormat(m_format);
    (m_choices.m_task == kTaskExcel ? m_taskExcel : m_taskHtml)->setChecked(true);
    m_from->setText(QString::number(m_choices.m_fromPage));
    m_to->setText(QString::number(m_choices.m_toPage));
    m_colour->setChecked(m_choices.m_colour);
    m_font->setChecked(m_choices.m_font);
    m_format->setCurrentIndex(static_cast<int>(m_choices.m_fileFormat));
    m_path->setText(qs(m_choices.m_outputPath));
    m_rows->setText(QString::number(m_choices.m_rowsPerWorksheet));
    m_setAsDefault->setChecked(m_choices.m_setAsDefault);
    m_noNumber->setChecked(m_choices.m_noNumberDetection);
    m_stringFormat->setChecked(m_choices.m_stringFormatDetection);
    m_mailTo->setText(qs(m_choices.m_mailTo));
    QRadioButton* type = m_choices.m_outputType == kOutputEmail  ? m_typeEmail
                         : m_choices.m_outputType == kOutputBoth ? m_typeBoth
                                                                 : m_typeFile;
    type->setChecked(true);
}

// Everything but the numbers, which are taken when their edits are left or at OK.
void ToExcelSetupWindow::readChoices() {
    m_choices.m_task = m_taskExcel->isChecked() ? kTaskExcel : kTaskHtml;
    m_choices.m_colour = m_colour->isChecked();
    m_choices.m_font = m_font->isChecked();
    m_choices.m_fileFormat = static_cast<ExportFileFormat>(std::max(0, m_format->currentIndex()));
    m_choices.m_outputPath = text(m_path);
    m_choices.m_setAsDefault = m_setAsDefault->isChecked();
    m_choices.m_noNumberDetection = m_noNumber->isChecked();
    m_choices.m_stringFormatDetection = m_stringFormat->isChecked();
    m_choices.m_mailTo = text(m_mailTo);
    m_choices.m_outputType = m_typeEmail->isChecked()  ? kOutputEmail
                             : m_typeBoth->isChecked() ? kOutputBoth
                                                       : kOutputFile;
}

void ToExcelSetupWindow::applyStates() {
    const ExportControlStates states = m_choices.controlStates();
    m_format->setEnabled(states.fileFormat);
    m_colour->setEnabled(states.colour);
    m_font->setEnabled(states.font);
    m_rows->setEnabled(states.rowsPerWorksheet);
    m_noNumber->setEnabled(states.noNumberDetection);
    m_stringFormat->setEnabled(states.stringFormatDetection);
    m_path->setEnabled(states.outputPath);
    m_mailTo->setEnabled(states.mailTo);
}

void ToExcelSetupWindow::OnTaskChanged() {
    readChoices();
    m_choices.SetTask(m_taskExcel->isChecked() ? kTaskExcel : kTaskHtml);
    m_path->setText(qs(m_choices.m_outputPath));
    applyStates();
}

void ToExcelSetupWindow::OnFormatChanged() {
    const ExportFileFormat previous = m_choices.m_fileFormat;
    readChoices();
    const ExportFileFormat chosen = m_choices.m_fileFormat;
    m_choices.m_fileFormat = previous;
    m_choices.SetFileFormat(chosen);
    showPath();
    applyStates();
}

void ToExcelSetupWindow::OnPathLeft() {
    readChoices();
    m_choices.ShowPathWritten();
    showPath();
}

// Only a changed name is put back, so that the caret stays where it was otherwise.
void ToExcelSetupWindow::showPath() {
    if (text(m_path) != m_choices.m_outputPath) {
        m_path->setText(qs(m_choices.m_outputPath));
    }
}

void ToExcelSetupWindow::OnOutputTypeChanged() {
    readChoices();
    applyStates();
}

void ToExcelSetupWindow::OnPageFieldLeft(ExportControl field) {
    QLineEdit* edit = field == ExportControl::FromPage ? m_from : m_to;
    readChoices();
    if (!m_choices.PageFieldLeft(field, text(edit))) {
        edit->setFocus();
        edit->selectAll();
        return;
    }
    m_path->setText(qs(m_choices.m_outputPath));
}

void ToExcelSetupWindow::OnOpenFile() {
    readChoices();
    const bool excel = m_choices.m_task == kTaskExcel;
    const bool workbook = m_choices.writesWorkbook();
    std::string path;
    if (m_chooser) {
        path = m_chooser(m_choices.fileNamePart(), excel);
    } else {
        QFileDialog dialog(this);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(workbook ? QStringLiteral("xlsx")
                                : excel  ? QStringLiteral("xls")
                                         : QStringLiteral("htm"));
        dialog.setNameFilters(
            workbook ? QStringList{tr("Excel Workbooks (*.xlsx)"), tr("All Files (*)")}
            : excel  ? QStringList{tr("Excel Files (*.xls)"), tr("All Files (*)")}
                     : QStringList{tr("HTML Files (*.html *.htm)"), tr("All Files (*)")});
        const std::string folder = m_choices.m_outputPath.substr(
            0, m_choices.m_outputPath.size() - m_choices.fileNamePart().size());
        if (!folder.empty()) {
            dialog.setDirectory(qs(folder));
        }
        dialog.selectFile(qs(m_choices.fileNamePart()));
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
            path = dialog.selectedFiles().first().toStdString();
        }
    }
    if (!path.empty()) {
        m_choices.FileChosen(path);
        m_choices.ShowPathWritten();
        m_path->setText(qs(m_choices.m_outputPath));
    }
}

QWidget* ToExcelSetupWindow::control(ExportControl id) const {
    switch (id) {
        case ExportControl::FromPage:
            return m_from;
        case ExportControl::ToPage:
            return m_to;
        case ExportControl::OutputPath:
            return m_path;
        case ExportControl::RowsPerWorksheet:
            return m_rows;
        case ExportControl::MailTo:
            return m_mailTo;
        default:
            return nullptr;
    }
}

void ToExcelSetupWindow::focusControl(ExportControl id, std::size_t start, std::size_t length) {
    auto* edit = qobject_cast<QLineEdit*>(control(id));
    if (edit == nullptr) {
        return;
    }
    edit->setFocus();
    edit->setSelection(static_cast<int>(start), static_cast<int>(length));
}

void ToExcelSetupWindow::OnOK() {
    readChoices();
    m_choices.ShowPathWritten();
    showPath();
    // Pages are asked within the report's own count.
    const std::int32_t lastPage = m_choices.m_pageCount > 0
                                      ? std::min(m_choices.m_pageCount, ToExcelSetupDlg::kMaxPage)
                                      : ToExcelSetupDlg::kMaxPage;
    const struct {
        QLineEdit* edit;
        std::int32_t max;
        std::int32_t* member;
    } numbers[] = {
        {m_from, lastPage, &m_choices.m_fromPage},
        {m_to, lastPage, &m_choices.m_toPage},
        {m_rows, ToExcelSetupDlg::kMaxRows, &m_choices.m_rowsPerWorksheet},
    };
    for (const auto& number : numbers) {
        if (!ToExcelSetupDlg::TakeNumber(text(number.edit), 1, number.max, *number.member, m_ui)) {
            number.edit->setFocus();
            number.edit->selectAll();
            return;
        }
    }
    const ExportOkResult result = m_choices.OnOK(m_ui, m_settings);
    if (!result.accepted) {
        focusControl(result.focus, result.selectStart, result.selectLength);
        return;
    }
    accept();
}

}  // namespace paginor
