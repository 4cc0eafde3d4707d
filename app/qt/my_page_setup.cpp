#include "app/qt/my_page_setup.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QVBoxLayout>

#include "app/foliant_view.h"
#include "app/ui_services.h"
#include "core/text_scan.h"
#include "platform/code_page_convert.h"
#include "platform/settings_table.h"

namespace paginor {

namespace {

// The field's text as UTF-8, cut to the stored field's size between two characters.
std::string textOf(const QLineEdit* edit, int maxBytes) {
    return utf8Prefix(edit->text().toStdString(), static_cast<std::size_t>(maxBytes));
}

}  // namespace

MyPageSetup::MyPageSetup(CFoliantView& view, SettingsStore& settings, UiServices& ui,
                         QWidget* parent)
    : QDialog(parent), m_view(view), m_settings(settings), m_ui(ui) {
    setWindowTitle(tr("My Page Setup"));
    m_header = new QLineEdit(QString::fromStdString(view.header()), this);
    m_footer = new QLineEdit(QString::fromStdString(view.footer()), this);
    // The fields keep one byte for the terminator of the stored text.
    m_header->setMaxLength(kMaxHeaderFooter - 1);
    m_footer->setMaxLength(kMaxHeaderFooter - 1);
    const std::string* margins[4] = {&view.marginLeft(), &view.marginRight(), &view.marginTop(),
                                     &view.marginBottom()};
    for (int i = 0; i < 4; ++i) {
        m_margins[i] = new QLineEdit(QString::fromStdString(*margins[i]), this);
        m_margins[i]->setMaxLength(kMaxMargin);
    }

    auto* texts = new QGroupBox(tr("Headers and footers"), this);
    auto* textForm = new QFormLayout(texts);
    textForm->addRow(tr("Header:"), m_header);
    textForm->addRow(tr("Footer:"), m_footer);
    auto* marginBox = new QGroupBox(tr("Margin in inchs"), this);
    auto* marginForm = new QFormLayout(marginBox);
    marginForm->addRow(tr("Left:"), m_margins[0]);
    marginForm->addRow(tr("Right:"), m_margins[1]);
    marginForm->addRow(tr("Top:"), m_margins[2]);
    marginForm->addRow(tr("Bottom:"), m_margins[3]);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_saveAsDefault = buttons->addButton(tr("Save as default"), QDialogButtonBox::ActionRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &MyPageSetup::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(m_saveAsDefault, &QPushButton::clicked, this, &MyPageSetup::OnSaveAsDefault);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(texts);
    layout->addWidget(marginBox);
    layout->addWidget(buttons);
}

bool MyPageSetup::validate() {
    for (QLineEdit* edit : m_margins) {
        const std::string text = textOf(edit, kMaxMargin);
        if (!IsNumberText(text.c_str(), static_cast<int>(text.size()))) {
            m_ui.messageBox("Please input number");
            edit->setFocus();
            edit->selectAll();
            return false;
        }
    }
    return true;
}

void MyPageSetup::OnOK() {
    if (!validate())
        return;
    m_view.SetMyPageSetup(textOf(m_header, kMaxHeaderFooter - 1),
                          textOf(m_footer, kMaxHeaderFooter - 1), textOf(m_margins[0], kMaxMargin),
                          textOf(m_margins[1], kMaxMargin), textOf(m_margins[2], kMaxMargin),
                          textOf(m_margins[3], kMaxMargin));
    accept();
}

void MyPageSetup::OnSaveAsDefault() {
    if (!validate())
        return;
    const std::pair<const SettingValue*, std::string> values[] = {
        {&kHeaderValue, textOf(m_header, kMaxHeaderFooter - 1)},
        {&kFooterValue, textOf(m_footer, kMaxHeaderFooter - 1)},
        {&kMarginBottomValue, textOf(m_margins[3], kMaxMargin)},
        {&kMarginLeftValue, textOf(m_margins[0], kMaxMargin)},
        {&kMarginRightValue, textOf(m_margins[1], kMaxMargin)},
        {&kMarginTopValue, textOf(m_margins[2], kMaxMargin)},
    };
    bool failed = false;
    for (const auto& [value, text] : values) {
        std::string error;
        if (!writeStringSetting(m_settings, *value, text, error))
            failed = true;
    }
    if (failed)
        m_ui.messageBox("Failed to modify My Page Setup properties");
}

}  // namespace paginor
