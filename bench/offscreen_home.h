#pragma once

// The setting of the benchmarks that run the main window: offscreen, with the web engine's memory
// scheme, in XDG folders of their own under folder/home, so that no user's settings are read or
// written. Must run before the QApplication is built.

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include "app/qt/report_browser.h"

namespace paginor::bench {

inline void prepareOffscreenHome(const std::string& folder) {
    const std::string home = folder + "/home";
    std::system(
        ("mkdir -p '" + home + "/runtime' '" + home + "/config' '" + home + "/cache'").c_str());
    ::chmod((home + "/runtime").c_str(), 0700);
    setenv("XDG_RUNTIME_DIR", (home + "/runtime").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
    setenv("XDG_CACHE_HOME", (home + "/cache").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
    setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu", 0);
    ReportBrowser::registerScheme();
}

}  // namespace paginor::bench
