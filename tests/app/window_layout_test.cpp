#include <gtest/gtest.h>

#include <QAbstractItemDelegate>
#include <QApplication>
#include <QListView>
#include <QScrollBar>
#include <QSplitter>
#include <QStyleOptionViewItem>
#include <QTest>

#include "app/foliant_doc.h"
#include "app/qt/main_window.h"
#include "platform/settings_store.h"
#include "tests/app/app_fakes.h"
#include "tests/support/gui_waiting.h"

namespace paginor {
namespace {

// Page 231940 in the page list of a window with the default left bar width shows whole.
TEST(PageList, TheLargestPageNumberShowsWhole) {
    for (int pages : {9, 231940, 2000000}) {
        SCOPED_TRACE(pages);
        CFoliantDoc doc;
        RecordingUi ui;
        MemorySettingsStore settings;
        MainWindow window(doc, ui, settings);
        window.resize(800, 600);
        window.show();
        window.fillPageList(pages);
        QListView* list = window.leftBar()->list();
        const QModelIndex last = list->model()->index(pages - 1, 0);
        list->scrollTo(last);
        waitUntil([&] { return list->viewport()->rect().intersects(list->visualRect(last)); },
                  "the last page to be scrolled into the list");
        const QString text = last.data().toString();
        ASSERT_EQ(text, QStringLiteral(" %1").arg(pages));
        const int textWidth = list->fontMetrics().horizontalAdvance(text);
        EXPECT_GE(list->visualRect(last).width(), textWidth);
        EXPECT_GE(list->viewport()->width(), textWidth);
        EXPECT_GE(window.splitter()->sizes().value(0), textWidth);
    }
}

}  // namespace
}  // namespace paginor
