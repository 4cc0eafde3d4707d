#include "app/qt/mail_dialogs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QVBoxLayout>
#include <thread>

#include "app/ui_services.h"
#include "platform/program_thread.h"
#include "platform/settings_store.h"

namespace paginor {

namespace {

QString fromStd(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStd(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace

CEmailAcctSetup::CEmailAcctSetup(SettingsStore& settings, UiServices& ui, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_ui(ui) {
    setWindowTitle(tr("Email Account Setup"));
    m_address = new QLineEdit(this);
    m_server = new QLineEdit(this);
    m_authentication = new QCheckBox(tr("My server requires authentication"), this);
    m_userName = new QLineEdit(this);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    auto* form = new QFormLayout;
    form->addRow(tr("Email address:"), m_address);
    form->addRow(tr("Outgoing mail (SMTP) server:"), m_server);
    form->addRow(m_authentication);
    form->addRow(tr("User name:"), m_userName);
    form->addRow(tr("Password:"), m_password);
    auto* save = new QPushButton(tr("Save"), this);
    save->setDefault(true);
    auto* cancel = new QPushButton(tr("Cancel"), this);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(buttons);
    connect(save, &QPushButton::clicked, this, &CEmailAcctSetup::OnOK);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_authentication, &QCheckBox::toggled, this, [this] { OnCheckReqAuthen(); });

    const EmailAccount start = accountDialogStart(m_settings);
    m_address->setText(fromStd(start.address));
    m_server->setText(fromStd(start.server));
    m_authentication->setChecked(start.requiresAuthentication);
    m_userName->setText(fromStd(start.userName));
    m_password->setText(fromStd(start.password));
    OnCheckReqAuthen();
}

EmailAccount CEmailAcctSetup::fields() const {
    EmailAccount account;
    account.address = toStd(m_address->text());
    account.server = toStd(m_server->text());
    account.requiresAuthentication = m_authentication->isChecked();
    account.userName = toStd(m_userName->text());
    account.password = toStd(m_password->text());
    return account;
}

void CEmailAcctSetup::OnCheckReqAuthen() {
    const bool on = m_authentication->isChecked();
    m_userName->setEnabled(on);
    m_password->setEnabled(on);
}

void CEmailAcctSetup::OnOK() {
    const EmailAccount account = fields();
    if (std::optional<AccountProblem> problem = checkAccountFields(account)) {
        m_ui.messageBox(problem->message);
        QLineEdit* edits[] = {m_address, m_server, m_userName, m_password};
        edits[static_cast<int>(problem->field)]->setFocus();
        return;
    }
    std::string error;
    if (!saveAccount(m_settings, account, error)) {
        m_ui.messageBox(error, MessageButtons::Ok, MessageIcon::Stop);
        return;
    }
    accept();
}

CSendEmail::CSendEmail(SettingsStore& settings, UiServices& ui, std::string attachmentPath,
                       QWidget* parent)
    : QDialog(parent), m_settings(settings), m_ui(ui), m_attachmentPath(std::move(attachmentPath)) {
    setWindowTitle(tr("Message"));
    m_recipients = new QLineEdit(this);
    m_recipients->setMaxLength(static_cast<int>(kMaxRecipientsChars));
    m_subject = new QLineEdit(this);
    m_comment = new QPlainTextEdit(this);
    m_attach = new QCheckBox(tr("Attach the report file"), this);
    auto* form = new QFormLayout;
    form->addRow(tr("To:"), m_recipients);
    form->addRow(tr("Subject:"), m_subject);
    m_send = new QPushButton(tr("Send"), this);
    m_send->setDefault(true);
    m_cancel = new QPushButton(tr("Cancel"), this);
    m_accountButton = new QPushButton(tr("Account Settings.."), this);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_accountButton);
    buttons->addStretch();
    buttons->addWidget(m_send);
    buttons->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_comment, 1);
    layout->addWidget(m_attach);
    layout->addLayout(buttons);
    connect(m_send, &QPushButton::clicked, this, &CSendEmail::OnOK);
    connect(m_cancel, &QPushButton::clicked, this, &CSendEmail::reject);
    connect(m_accountButton, &QPushButton::clicked, this, &CSendEmail::OnAccountSettings);

    const SendDialogFields start = sendDialogStart(m_settings, m_attachmentPath);
    m_attach->setEnabled(start.attachEnabled);
    m_attach->setChecked(start.attach);
    m_subject->setText(fromStd(start.subject));
    m_comment->setPlainText(fromStd(start.comment));
    m_recipients->setText(fromStd(start.recipients));
    m_recipients->setFocus();
    resize(480, 360);
}

CSendEmail::~CSendEmail() {
    *m_alive = false;
}

void CSendEmail::showMessage(const std::string& text, MailIcon icon) {
    m_ui.messageBox(text, MessageButtons::Ok,
                    icon == MailIcon::Error         ? MessageIcon::Stop
                    : icon == MailIcon::Information ? MessageIcon::Information
                                                    : MessageIcon::None);
}

bool CSendEmail::runAccountDialog() {
    CEmailAcctSetup dialog(m_settings, m_ui, this);
    return dialog.exec() == QDialog::Accepted;
}

void CSendEmail::OnAccountSettings() {
    if (!m_sending) {
        runAccountDialog();
    }
}

void CSendEmail::setSending(bool sending) {
    m_sending = sending;
    for (QWidget* widget : {static_cast<QWidget*>(m_send), static_cast<QWidget*>(m_cancel),
                            static_cast<QWidget*>(m_accountButton)}) {
        widget->setEnabled(!sending);
    }
}

void CSendEmail::OnOK() {
    if (m_sending) {
        return;
    }
    SendDialogFields fields;
    fields.recipients = toStd(m_recipients->text());
    fields.subject = toStd(m_subject->text());
    fields.comment = toStd(m_comment->toPlainText());
    fields.attach = m_attach->isChecked();
    fields.attachEnabled = m_attach->isEnabled();
    if (std::optional<std::string> problem = checkRecipients(fields.recipients)) {
        m_ui.messageBox(*problem, MessageButtons::Ok, MessageIcon::Stop);
        m_recipients->setFocus();
        return;
    }
    const SendRequest request = sendDialogRequest(fields, m_attachmentPath);
    std::optional<Delivery> prepared = prepareSend(m_settings, *this, request);
    if (!prepared) {
        return;
    }
    prepared->port = m_port;
    setSending(true);
    auto delivery = std::make_shared<Delivery>(std::move(*prepared));
    const std::string recipients = fields.recipients;
    QPointer<CSendEmail> self(this);
    std::shared_ptr<std::atomic<bool>> alive = m_alive;
    StartThread([delivery, recipients, self, alive] {
        DeliveryResult result = deliver(*delivery);
        if (!*alive) {
            return;
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [delivery, recipients, self, alive, result] {
                if (*alive && self) {
                    self->onDelivered(recipients, delivery->account, result);
                }
            },
            Qt::QueuedConnection);
    }).detach();
}

void CSendEmail::onDelivered(const std::string& recipients, const EmailAccount& account,
                             const DeliveryResult& result) {
    setSending(false);
    if (!result.sent) {
        m_ui.messageBox(sendFailureMessage(account, result.errorText), MessageButtons::Ok,
                        MessageIcon::Information);
        emit sendFinished(false);
        return;
    }
    m_ui.messageBox(sendDialogSucceeded(m_settings, recipients));
    emit sendFinished(true);
    accept();
}

void CSendEmail::reject() {
    if (!m_sending) {
        QDialog::reject();
    }
}

void CSendEmail::closeEvent(QCloseEvent* event) {
    if (m_sending) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void runSendTo(QWidget* parent, bool reportLoaded, const std::string& reportPath,
               SettingsStore& settings, UiServices& ui) {
    if (!reportLoaded &&
        ui.messageBox("You have not open any file, continue?", MessageButtons::YesNo,
                      MessageIcon::Question) != MessageAnswer::Yes) {
        return;
    }
    EmailAccount account;
    std::string message;
    if (!GetEmailAccountSettings(settings, account, message)) {
        ui.messageBox(kNoAccountMessage, MessageButtons::Ok, MessageIcon::Information);
        CEmailAcctSetup setup(settings, ui, parent);
        if (setup.exec() != QDialog::Accepted) {
            return;
        }
    }
    CSendEmail dialog(settings, ui, reportLoaded ? reportPath : std::string(), parent);
    dialog.exec();
}

}  // namespace paginor
