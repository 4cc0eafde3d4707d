#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <array>
#include <functional>
#include <string>

#include "app/auto_update.h"
#include "app/command_helpers.h"

namespace paginor {

class SettingsStore;
class UiServices;
struct SettingValue;

// Opens a file or address with the desktop's program; false with the reason.
using Opener = std::function<bool(const std::string& pathOrUrl, std::string& error)>;
Opener defaultOpener();

// "URL keywords setup": the five keywords of one group and "Output to printer directly".
class KeyWordSetup : public QDialog {
    Q_OBJECT
public:
    // addOnLibrary: the browser add-on whose ResetKeywords is called after a save.
    KeyWordSetup(SettingsStore& settings, UiServices& ui, const SettingValue& group,
                 std::string addOnLibrary, QWidget* parent = nullptr);

    void OnOK();

    QLineEdit* keywordEdit(std::size_t index) const { return m_edits[index]; }
    QCheckBox* printDirectlyCheck() const { return m_printDirectly; }
    QPushButton* okButton() const { return m_ok; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    SettingsStore& m_settings;
    UiServices& m_ui;
    const SettingValue& m_group;
    std::string m_addOnLibrary;
    bool m_printDirectlyWhenOpened = false;
    std::array<QLineEdit*, kKeywordEdits> m_edits{};
    QCheckBox* m_printDirectly;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

// "Test URL": writes a page with a link to the address and opens it, so that the user can see
// whether a click starts this program.
class TestURLDlg : public QDialog {
    Q_OBJECT
public:
    // group: the keyword value the address must match; null for none.
    TestURLDlg(SettingsStore& settings, UiServices& ui, const SettingValue* group, Opener opener,
               QWidget* parent = nullptr);

    void OnOK();
    QLineEdit* urlEdit() const { return m_url; }

private:
    SettingsStore& m_settings;
    UiServices& m_ui;
    const SettingValue* m_group;
    Opener m_opener;
    QLineEdit* m_url;
};

// About: the version, the release date and the maker's address.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    CAboutDlg(UiServices& ui, Opener opener, QWidget* parent = nullptr);

    void OnLinkClicked();
    QLabel* versionLabel() const { return m_version; }
    QLabel* releaseDateLabel() const { return m_releaseDate; }
    QLabel* linkLabel() const { return m_link; }

private:
    UiServices& m_ui;
    Opener m_opener;
    QLabel* m_version;
    QLabel* m_releaseDate;
    QLabel* m_link;
};

// "Auto-updates": checking on or off, notifying, the configuration file's address and its test.
class CAutoUpdateDlg : public QDialog {
    Q_OBJECT
public:
    CAutoUpdateDlg(const UpdateEnvironment& env, UpdateThreadServices& services,
                   QWidget* parent = nullptr);

    void OnOK();
    void OnTest();
    void OnDefault();
    QCheckBox* enableCheck() const { return m_enabled; }
    QCheckBox* notifyCheck() const { return m_notify; }
    QLineEdit* addressEdit() const { return m_address; }
    QPushButton* testButton() const { return m_test; }

private:
    void updateEnables();
    AutoUpdateChoice choice() const;

    const UpdateEnvironment& m_env;
    UpdateThreadServices& m_services;
    bool m_enabledWhenOpened = true;
    QCheckBox* m_enabled;
    QCheckBox* m_notify;
    QLineEdit* m_address;
    QPushButton* m_test;
};

}  // namespace paginor
