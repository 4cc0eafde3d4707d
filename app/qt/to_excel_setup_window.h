#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <functional>
#include <string>

#include "app/to_excel_setup.h"

namespace paginor {

class SettingsStore;
class UiServices;

// The window of the export dialog, "Output to Excel or HTML file": its controls mirror the
// choices of a ToExcelSetupDlg, which holds the rules.
class ToExcelSetupWindow : public QDialog {
    Q_OBJECT
public:
    // Asks for the output file: the name offered and whether it is a workbook; empty when
    // cancelled.
    using FileChooser = std::function<std::string(const std::string& name, bool excel)>;

    ToExcelSetupWindow(ToExcelSetupDlg& choices, SettingsStore& settings, UiServices& ui,
                       QWidget* parent = nullptr);

    void setFileChooser(FileChooser chooser) { m_chooser = std::move(chooser); }

    void OnTaskChanged();
    void OnFormatChanged();
    void OnOutputTypeChanged();
    // A page edit lost the focus or took Return.
    void OnPageFieldLeft(ExportControl field);
    // The path edit lost the focus or took Return: it shows the name the export writes.
    void OnPathLeft();
    void OnOpenFile();
    void OnOK();

    QRadioButton* taskExcelButton() const { return m_taskExcel; }
    QRadioButton* taskHtmlButton() const { return m_taskHtml; }
    QLineEdit* fromEdit() const { return m_from; }
    QLineEdit* toEdit() const { return m_to; }
    QCheckBox* colourCheck() const { return m_colour; }
    QCheckBox* fontCheck() const { return m_font; }
    QComboBox* formatList() const { return m_format; }
    QLineEdit* pathEdit() const { return m_path; }
    QLineEdit* rowsEdit() const { return m_rows; }
    QCheckBox* setAsDefaultCheck() const { return m_setAsDefault; }
    QCheckBox* noNumberCheck() const { return m_noNumber; }
    QCheckBox* stringFormatCheck() const { return m_stringFormat; }
    QLineEdit* mailToEdit() const { return m_mailTo; }
    QRadioButton* typeFileButton() const { return m_typeFile; }
    QRadioButton* typeEmailButton() const { return m_typeEmail; }
    QRadioButton* typeBothButton() const { return m_typeBoth; }
    QPushButton* openButton() const { return m_open; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* helpButton() const { return m_help; }

private:
    void fillControls();
    void readChoices();
    void applyStates();
    void showPath();
    QWidget* control(ExportControl id) const;
    void focusControl(ExportControl id, std::size_t start, std::size_t length);

    ToExcelSetupDlg& m_choices;
    SettingsStore& m_settings;
    UiServices& m_ui;
    FileChooser m_chooser;
    QRadioButton* m_taskExcel;
    QRadioButton* m_taskHtml;
    QLineEdit* m_from;
    QLineEdit* m_to;
    QCheckBox* m_colour;
    QCheckBox* m_font;
    QComboBox* m_format;
    QLineEdit* m_path;
    QPushButton* m_open;
    QLineEdit* m_rows;
    QCheckBox* m_setAsDefault;
    QCheckBox* m_noNumber;
    QCheckBox* m_stringFormat;
    QLineEdit* m_mailTo;
    QRadioButton* m_typeFile;
    QRadioButton* m_typeEmail;
    QRadioButton* m_typeBoth;
    QPushButton* m_ok;
    QPushButton* m_help;
};

}  // namespace paginor
