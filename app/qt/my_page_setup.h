#pragma once

#include <QDialog>
#include <QLineEdit>
#include <QPushButton>

namespace paginor {

class CFoliantView;
class SettingsStore;
class UiServices;

// "My Page Setup": the header, footer and margins (inches) the view prints with.
class MyPageSetup : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxHeaderFooter = 240;
    static constexpr int kMaxMargin = 7;

    MyPageSetup(CFoliantView& view, SettingsStore& settings, UiServices& ui,
                QWidget* parent = nullptr);

    // The values go to the view and the dialog closes; a margin that is no number refuses.
    void OnOK();
    // Stores the values as the defaults; the dialog stays open.
    void OnSaveAsDefault();

    QLineEdit* headerEdit() const { return m_header; }
    QLineEdit* footerEdit() const { return m_footer; }
    QLineEdit* marginEdit(int index) const { return m_margins[index]; }  // left, right, top, bottom
    QPushButton* saveAsDefaultButton() const { return m_saveAsDefault; }

private:
    bool validate();

    CFoliantView& m_view;
    SettingsStore& m_settings;
    UiServices& m_ui;
    QLineEdit* m_header;
    QLineEdit* m_footer;
    QLineEdit* m_margins[4];
    QPushButton* m_saveAsDefault;
};

}  // namespace paginor
