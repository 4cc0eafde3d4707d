#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/headless_switch.h"
#include "app/qt/foliant_app.h"
#include "app/qt/report_browser.h"
#include "app/startup.h"
#include "platform/settings_store.h"
#include "platform/user_info.h"

namespace {

// With PAGINOR_SCREENSHOT set, the window is saved to that file once the first page has shown,
// and the program ends: this proves a run where no one can look at the screen.
void arrangeScreenshot(paginor::CFoliantApp& app, const QString& file) {
    paginor::ReportBrowser* browser = app.mainWindow().browser();
    QObject::connect(browser, &paginor::ReportBrowser::documentComplete, browser,
                     [&app, file](const QUrl& url, bool ok) {
                         if (!ok || url.scheme() != QStringLiteral("paginor-mem")) {
                             return;
                         }
                         QTimer::singleShot(300, [&app, file] {
                             const bool saved = app.mainWindow().grab().save(file);
                             std::fprintf(saved ? stdout : stderr, "%s %s\n",
                                          saved ? "Saved page 1 to" : "Could not save",
                                          qPrintable(file));
                             QApplication::exit(saved ? 0 : 1);
                         });
                     });
    QTimer::singleShot(60000, [] {
        std::fprintf(stderr, "No page was shown within a minute.\n");
        QApplication::exit(1);
    });
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::string commandLine = paginor::JoinArguments(arguments);
    if (paginor::IsHeadlessSwitch(commandLine)) {
        paginor::FileSettingsStore settings;
        return paginor::RunHeadlessSwitch(commandLine, settings,
                                          paginor::currentInstallEnvironment(), std::cerr);
    }
    // The web engine refuses to run its sandbox as root.
    if (paginor::runningAsRoot() && std::getenv("QTWEBENGINE_DISABLE_SANDBOX") == nullptr) {
        setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    }
    paginor::ReportBrowser::registerScheme();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Paginor"));
    paginor::CFoliantApp app;
    if (!app.InitInstance(arguments)) {
        return 0;
    }
    const QString screenshot = qEnvironmentVariable("PAGINOR_SCREENSHOT");
    if (!screenshot.isEmpty()) {
        arrangeScreenshot(app, screenshot);
    }
    return QApplication::exec();
}
