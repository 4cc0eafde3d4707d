#pragma once

#include <QAbstractListModel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QStatusBar>
#include <QToolBar>
#include <functional>

#include "app/qt/button_st.h"

namespace paginor {

// The status bar with a progress control over its first pane.
class CProgStatusBar : public QStatusBar {
    Q_OBJECT
public:
    explicit CProgStatusBar(QWidget* parent = nullptr);
    // 0 hides the control and shows the idle text again.
    void SetProgress(int position);
    QProgressBar* progressControl() const { return m_progress; }

private:
    QProgressBar* m_progress;
};

// The navigation bar: previous, next, first and last page, and the page fields of the range shown.
class NavigateBar : public QToolBar {
    Q_OBJECT
public:
    static constexpr std::uint32_t kButtonBgColor = 0xC8D0D4;

    explicit NavigateBar(QWidget* parent = nullptr);
    void InitButtons();

    CButtonST* button(int commandId) const;
    QLineEdit* firstField() const { return m_first; }
    QLineEdit* lastField() const { return m_last; }

signals:
    void command(int commandId);
    void firstFieldEntered();
    void lastFieldEntered();

private:
    CButtonST* m_previous;
    CButtonST* m_next;
    CButtonST* m_firstButton;
    CButtonST* m_lastButton;
    QLineEdit* m_first;
    QLineEdit* m_last;
};

// One row " n" per page, made on demand, so that huge reports fill the list at once.
class PageListModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;
    void setPageCount(int count);
    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    int m_count = 0;
};

// The left bar's page list.
class CLeftBarDlg : public QWidget {
    Q_OBJECT
public:
    explicit CLeftBarDlg(QWidget* parent = nullptr);
    void setPageCount(int count);
    // Selects without reporting the selection as the user's.
    void selectEntry(int index);
    QListView* list() const { return m_list; }
    const PageListModel& model() const { return *m_model; }

signals:
    // The user chose the page (1-based).
    void pageChosen(int page);

private:
    QListView* m_list;
    PageListModel* m_model;
    bool m_selecting = false;
};

// The splitter's left pane that holds the page list.
class CLeftDlgBarView : public QWidget {
    Q_OBJECT
public:
    explicit CLeftDlgBarView(QWidget* parent = nullptr);
    CLeftBarDlg* dialog() const { return m_dialog; }

private:
    CLeftBarDlg* m_dialog;
};

}  // namespace paginor
