#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "mail/account.h"
#include "mail/send_flow.h"

namespace paginor {

class SettingsStore;
class UiServices;

// The e-mail account dialog: address, outgoing server, and user name and password when the
// server asks for them.
class CEmailAcctSetup : public QDialog {
    Q_OBJECT
public:
    CEmailAcctSetup(SettingsStore& settings, UiServices& ui, QWidget* parent = nullptr);

    void OnCheckReqAuthen();
    // "Save": checks the fields and stores them; the dialog stays open on a refusal.
    void OnOK();

    QLineEdit* addressEdit() const { return m_address; }
    QLineEdit* serverEdit() const { return m_server; }
    QCheckBox* authenticationCheck() const { return m_authentication; }
    QLineEdit* userNameEdit() const { return m_userName; }
    QLineEdit* passwordEdit() const { return m_password; }

private:
    EmailAccount fields() const;

    SettingsStore& m_settings;
    UiServices& m_ui;
    QLineEdit* m_address;
    QLineEdit* m_server;
    QCheckBox* m_authentication;
    QLineEdit* m_userName;
    QLineEdit* m_password;
};

// The send dialog: mails the open report file, or just a message, to the recipients typed. The
// network part runs on a worker thread, so the window keeps answering; a send cannot be started
// twice, and the dialog cannot be closed while one runs.
class CSendEmail : public QDialog, private MailUi {
    Q_OBJECT
public:
    CSendEmail(SettingsStore& settings, UiServices& ui, std::string attachmentPath,
               QWidget* parent = nullptr);
    ~CSendEmail() override;

    void OnOK();
    void OnAccountSettings();
    bool sending() const { return m_sending; }
    // The SMTP port, for tests.
    void setPort(int port) { m_port = port; }

    QLineEdit* recipientsEdit() const { return m_recipients; }
    QLineEdit* subjectEdit() const { return m_subject; }
    QPlainTextEdit* commentEdit() const { return m_comment; }
    QCheckBox* attachCheck() const { return m_attach; }
    QPushButton* sendButton() const { return m_send; }
    // Cancel, Escape: refused while a send runs.
    void reject() override;

signals:
    // A send ended; sent tells how.
    void sendFinished(bool sent);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void showMessage(const std::string& text, MailIcon icon) override;
    bool runAccountDialog() override;
    void setSending(bool sending);
    void onDelivered(const std::string& recipients, const EmailAccount& account,
                     const DeliveryResult& result);

    SettingsStore& m_settings;
    UiServices& m_ui;
    std::string m_attachmentPath;
    QLineEdit* m_recipients;
    QLineEdit* m_subject;
    QPlainTextEdit* m_comment;
    QCheckBox* m_attach;
    QPushButton* m_send;
    QPushButton* m_cancel;
    QPushButton* m_accountButton;
    bool m_sending = false;
    int m_port = kSmtpPort;
    // Shared with the worker: a dialog that is gone drops the worker's late result.
    std::shared_ptr<std::atomic<bool>> m_alive = std::make_shared<std::atomic<bool>>(true);
};

// Send To: the checks before the send dialog, then the dialog itself.
void runSendTo(QWidget* parent, bool reportLoaded, const std::string& reportPath,
               SettingsStore& settings, UiServices& ui);

}  // namespace paginor
