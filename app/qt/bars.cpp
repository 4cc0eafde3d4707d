#include "app/qt/bars.h"

#include <QAbstractItemDelegate>
#include <QHBoxLayout>
#include <QLabel>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>
#include <algorithm>

#include "res/resource_ids.h"

namespace paginor {

CProgStatusBar::CProgStatusBar(QWidget* parent) : QStatusBar(parent) {
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setRange(0, 100);
    m_progress->setMaximumWidth(240);
    m_progress->setTextVisible(false);
    m_progress->hide();
    addWidget(m_progress, 1);
    showMessage(tr("Ready"));
}

void CProgStatusBar::SetProgress(int position) {
    position = std::clamp(position, 0, 100);
    const bool show = position != 0;
    if (show != m_progress->isVisible()) {
        clearMessage();
        m_progress->setVisible(show);
    }
    m_progress->setValue(position);
    if (!show) {
        showMessage(tr("Ready"));
    }
}

NavigateBar::NavigateBar(QWidget* parent) : QToolBar(tr("Navigation Bar"), parent) {
    setObjectName(QStringLiteral("navigateBar"));
    setAllowedAreas(Qt::TopToolBarArea | Qt::BottomToolBarArea);
    auto makeButton = [this](int id, const QString& tip) {
        auto* button = new CButtonST(this);
        button->setObjectName(QStringLiteral("button%1").arg(id));
        button->setToolTip(tip);
        connect(button, &QAbstractButton::clicked, this, [this, id] { emit command(id); });
        return button;
    };
    m_previous = makeButton(res::kPrevPage, tr("Previous page"));
    m_next = makeButton(res::kNextPage, tr("Next page"));
    m_firstButton = makeButton(res::kFirstPage, tr("First page"));
    m_lastButton = makeButton(res::kLastPage, tr("Last page"));
    auto makeField = [this](int id) {
        auto* field = new QLineEdit(this);
        field->setObjectName(QStringLiteral("field%1").arg(id));
        field->setFixedWidth(64);
        field->setAlignment(Qt::AlignRight);
        return field;
    };
    m_first = makeField(res::kFirstPageField);
    m_last = makeField(res::kLastPageField);
    connect(m_first, &QLineEdit::returnPressed, this, &NavigateBar::firstFieldEntered);
    connect(m_last, &QLineEdit::returnPressed, this, &NavigateBar::lastFieldEntered);

    addWidget(m_firstButton);
    addWidget(m_previous);
    addWidget(new QLabel(tr("Browse page"), this));
    addWidget(m_first);
    addWidget(new QLabel(tr("( TO"), this));
    addWidget(m_last);
    addWidget(new QLabel(tr(")"), this));
    addWidget(m_next);
    addWidget(m_lastButton);
}

void NavigateBar::InitButtons() {
    const struct {
        CButtonST* button;
        const char* icon;
    } buttons[] = {{m_previous, res::kPreviousIcon},
                   {m_next, res::kNextIcon},
                   {m_firstButton, res::kFirstIcon},
                   {m_lastButton, res::kLastIcon}};
    for (const auto& entry : buttons) {
        entry.button->SetIcon(QIcon(entry.icon), QIcon(), 32, 32);
        entry.button->SetNormalBgColor(kButtonBgColor);
        entry.button->SetFlat(false);
    }
    m_previous->SetFlat(true);
    m_next->SetFlat(true);
}

CButtonST* NavigateBar::button(int commandId) const {
    switch (commandId) {
        case res::kPrevPage:
            return m_previous;
        case res::kNextPage:
            return m_next;
        case res::kFirstPage:
            return m_firstButton;
        case res::kLastPage:
            return m_lastButton;
        default:
            return nullptr;
    }
}

void PageListModel::setPageCount(int count) {
    beginResetModel();
    m_count = std::max(count, 0);
    endResetModel();
}

int PageListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : m_count;
}

QVariant PageListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= m_count) {
        return {};
    }
    return QStringLiteral(" %1").arg(index.row() + 1);
}

CLeftBarDlg::CLeftBarDlg(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    layout->addWidget(new QLabel(tr("Page Num"), this));
    m_list = new QListView(this);
    m_list->setObjectName(QStringLiteral("pageList"));
    m_list->setUniformItemSizes(true);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_model = new PageListModel(this);
    m_list->setModel(m_model);
    layout->addWidget(m_list, 1);
    connect(m_list->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!m_selecting && current.isValid()) {
                    emit pageChosen(current.row() + 1);
                }
            });
}

void CLeftBarDlg::setPageCount(int count) {
    m_selecting = true;
    m_model->setPageCount(count);
    m_selecting = false;
    // The list is as wide as its largest page number needs, so no number is cut.
    int width = 0;
    if (count > 0) {
        QStyleOptionViewItem option;
        option.initFrom(m_list);
        option.font = m_list->font();
        width = m_list->itemDelegate()->sizeHint(option, m_model->index(count - 1, 0)).width() +
                2 * m_list->frameWidth() + m_list->verticalScrollBar()->sizeHint().width();
    }
    m_list->setMinimumWidth(width);
}

void CLeftBarDlg::selectEntry(int index) {
    m_selecting = true;
    const QModelIndex entry = m_model->index(index, 0);
    if (entry.isValid()) {
        m_list->setCurrentIndex(entry);
        m_list->scrollTo(entry);
    } else {
        m_list->clearSelection();
    }
    m_selecting = false;
}

CLeftDlgBarView::CLeftDlgBarView(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    m_dialog = new CLeftBarDlg(this);
    layout->addWidget(m_dialog);
    setMinimumWidth(20);
}

}  // namespace paginor
