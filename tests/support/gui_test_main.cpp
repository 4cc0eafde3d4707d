// The main of the GUI test programs: each runs offscreen in folders of its own
// (PAGINOR_GUI_HOME, set per program), with the web engine's memory scheme registered.

#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>

#include "app/qt/report_browser.h"

// The web engine's own allocations are not ours to answer for: under the sanitizers its leaks and
// mismatched deletes are not reported.
extern "C" const char* __asan_default_options() {
    return "detect_leaks=0:new_delete_type_mismatch=0:alloc_dealloc_mismatch=0";
}

int main(int argc, char** argv) {
    const QByteArray home = PAGINOR_GUI_HOME;
    qputenv("XDG_RUNTIME_DIR", home + "/runtime");
    qputenv("XDG_CONFIG_HOME", home + "/config");
    qputenv("XDG_DATA_HOME", home + "/data");
    qputenv("XDG_CACHE_HOME", home + "/cache");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    paginor::ReportBrowser::registerScheme();
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
