#include "app/qt/small_dialogs.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/settings_install.h"
#include "app/ui_services.h"
#include "platform/folders.h"
#include "platform/process.h"
#include "platform/settings_table.h"
#include "platform/shared_library.h"

namespace paginor {
namespace {

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

Opener defaultOpener() {
    return [](const std::string& pathOrUrl, std::string& error) {
        return openWithDefaultProgram(pathOrUrl, error);
    };
}

KeyWordSetup::KeyWordSetup(SettingsStore& settings, UiServices& ui, const SettingValue& group,
                           std::string addOnLibrary, QWidget* parent)
    : QDialog(parent),
      m_settings(settings),
      m_ui(ui),
      m_group(group),
      m_addOnLibrary(std::move(addOnLibrary)) {
    setWindowTitle(tr("URL keywords setup"));
    auto* form = new QFormLayout;
    const KeywordEdits keywords = LoadKeywords(settings, group, m_printDirectlyWhenOpened);
    for (std::size_t i = 0; i < kKeywordEdits; ++i) {
        m_edits[i] = new QLineEdit(fromStd(keywords[i]), this);
        m_edits[i]->setMaxLength(static_cast<int>(kMaxKeywordChars));
        form->addRow(tr("Keyword %1:").arg(i + 1), m_edits[i]);
    }
    m_printDirectly = new QCheckBox(tr("Output to printer directly"), this);
    m_printDirectly->setChecked(m_printDirectlyWhenOpened);
    m_ok = new QPushButton(tr("OK"), this);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_ok->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_ok);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_printDirectly);
    layout->addLayout(buttons);
    for (QLineEdit* edit : m_edits) {
        connect(edit, &QLineEdit::textChanged, this, [this] { m_ok->setEnabled(true); });
    }
    connect(m_printDirectly, &QCheckBox::toggled, this, [this] { m_ok->setEnabled(true); });
    connect(m_ok, &QPushButton::clicked, this, &KeyWordSetup::OnOK);
    connect(m_cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_cancel->setDefault(true);
    m_cancel->setFocus();
}

void KeyWordSetup::OnOK() {
    KeywordEdits edits;
    for (std::size_t i = 0; i < kKeywordEdits; ++i) {
        edits[i] = m_edits[i]->text().toStdString();
    }
    std::string message;
    if (!SaveKeywords(m_settings, m_group, edits, m_printDirectly->isChecked(),
                      m_printDirectlyWhenOpened, message)) {
        m_ui.messageBox(message, MessageButtons::Ok, MessageIcon::Exclamation);
        return;
    }
    bool called = false;
    std::string error;
    if (!CallLibraryFunction(m_addOnLibrary, "ResetKeywords", called, error)) {
        m_ui.messageBox(
            "The keywords are saved. The browser add-on could not be told about them "
            "and reads them when the browser starts again.\n" +
                error,
            MessageButtons::Ok, MessageIcon::Information);
    }
    accept();
}

TestURLDlg::TestURLDlg(SettingsStore& settings, UiServices& ui, const SettingValue* group,
                       Opener opener, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_ui(ui), m_group(group), m_opener(std::move(opener)) {
    setWindowTitle(tr("Test URL"));
    m_url = new QLineEdit(fromStd(ExampleReportUrl()), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(tr("URL:"), this));
    layout->addWidget(m_url);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &TestURLDlg::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    m_url->setFocus();
    m_url->setSelection(7, static_cast<int>(m_url->text().size()) - 7);
}

void TestURLDlg::OnOK() {
    const std::string url = m_url->text().toStdString();
    const std::string keywords =
        m_group != nullptr ? ReadTestKeywords(m_settings, *m_group) : std::string();
    const std::string refusal = CheckTestUrl(url, keywords);
    if (!refusal.empty()) {
        m_ui.messageBox(refusal);
        return;
    }
    const std::string folder = privateTempFolder();
    std::string error = "no private temporary folder";
    const std::string page = folder + "/" + kTestUrlPageName;
    if (folder.empty() || !WriteFileAtomically(page, TestUrlPage(url), error) ||
        !m_opener(page, error)) {
        m_ui.messageBox("The test page cannot be shown: " + error, MessageButtons::Ok,
                        MessageIcon::Stop);
        return;
    }
    accept();
}

CAboutDlg::CAboutDlg(UiServices& ui, Opener opener, QWidget* parent)
    : QDialog(parent), m_ui(ui), m_opener(std::move(opener)) {
    setWindowTitle(tr("About Paginor"));
    m_version = new QLabel(fromStd(AboutVersionText()), this);
    m_releaseDate = new QLabel(fromStd(AboutReleaseDateText()), this);
    m_link = new QLabel(QStringLiteral("<a href=\"%1\">%1</a>").arg(QString(kMakerUrl)), this);
    m_link->setCursor(Qt::PointingHandCursor);
    m_link->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_version);
    layout->addWidget(m_releaseDate);
    layout->addWidget(m_link);
    layout->addWidget(buttons);
    connect(m_link, &QLabel::linkActivated, this, [this] { OnLinkClicked(); });
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

void CAboutDlg::OnLinkClicked() {
    std::string error;
    if (!m_opener(kMakerUrl, error)) {
        m_ui.messageBox("The web page cannot be opened: " + error);
    }
}

CAutoUpdateDlg::CAutoUpdateDlg(const UpdateEnvironment& env, UpdateThreadServices& services,
                               QWidget* parent)
    : QDialog(parent), m_env(env), m_services(services) {
    setWindowTitle(tr("Auto-updates"));
    m_enabled = new QCheckBox(tr("Enable check automatically for updates "), this);
    m_notify = new QCheckBox(tr("Notify me before update"), this);
    m_address = new QLineEdit(this);
    m_test = new QPushButton(tr("Test"), this);
    auto* defaults = new QPushButton(tr("Default"), this);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto* addressRow = new QHBoxLayout;
    addressRow->addWidget(m_address);
    addressRow->addWidget(m_test);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_enabled);
    layout->addWidget(m_notify);
    layout->addWidget(new QLabel(tr("Location of auto-update configuration file:"), this));
    layout->addLayout(addressRow);
    layout->addWidget(defaults);
    layout->addWidget(buttons);

    const AutoUpdateChoice stored = LoadAutoUpdateChoice(env.settings);
    m_enabled->setChecked(stored.enabled);
    m_notify->setChecked(stored.notify);
    m_address->setText(fromStd(stored.address));
    m_enabledWhenOpened = stored.enabledWhenOpened;
    updateEnables();
    connect(m_enabled, &QCheckBox::clicked, this, [this] { updateEnables(); });
    connect(m_test, &QPushButton::clicked, this, &CAutoUpdateDlg::OnTest);
    connect(defaults, &QPushButton::clicked, this, &CAutoUpdateDlg::OnDefault);
    connect(buttons, &QDialogButtonBox::accepted, this, &CAutoUpdateDlg::OnOK);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CAutoUpdateDlg::updateEnables() {
    const bool on = m_enabled->isChecked();
    m_address->setEnabled(on);
    m_notify->setEnabled(on);
    m_test->setEnabled(on);
}

AutoUpdateChoice CAutoUpdateDlg::choice() const {
    AutoUpdateChoice choice;
    choice.enabled = m_enabled->isChecked();
    choice.notify = m_notify->isChecked();
    choice.enabledWhenOpened = m_enabledWhenOpened;
    choice.address = m_address->text().toStdString();
    return choice;
}

void CAutoUpdateDlg::OnOK() {
    std::string message;
    if (!SaveAutoUpdateChoice(m_env.settings, choice(), message)) {
        m_services.ui.messageBox(message);
        return;
    }
    accept();
}

void CAutoUpdateDlg::OnTest() {
    const std::string address = m_address->text().toStdString();
    if (address.empty()) {
        m_services.ui.messageBox(kNoConfigurationUrl);
        return;
    }
    TestUpdateAddress(address, m_env, m_services);
}

void CAutoUpdateDlg::OnDefault() {
    m_enabled->setChecked(true);
    m_notify->setChecked(false);
    m_address->setText(QString(kDefaultUpdateUrl));
    updateEnables();
}

}  // namespace paginor
