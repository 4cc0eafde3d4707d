#pragma once

#include <string>

#include "app/browser_control.h"
#include "app/ui_services.h"

namespace paginor {

class CFoliantDoc;
class SettingsStore;

// The report view: writes page documents into the browser from memory, keeps the reader's scroll
// position and the text direction, and holds the "My Page Setup" header, footer and margins.
class CFoliantView {
public:
    static constexpr std::size_t kMaxHeaderFooter = 239;
    static constexpr std::size_t kMaxMargin = 19;

    CFoliantView(CFoliantDoc& doc, BrowserControl& browser, UiServices& ui,
                 SettingsStore& settings);

    bool WriteHtml(std::string& html, bool print, bool rightToLeft);
    void Navigate2(const std::string& url) { m_browser.navigate(url); }

    // With read set, takes the shown document's scroll position; else scrolls to it.
    void GetSetScrollPos(int& top, int& left, bool read);
    bool LoadMyPageSetup();

    int GetZoom() const { return m_browser.zoomStep(); }
    void SetZoom(int step) { m_browser.setZoomStep(step); }

    bool printPending() const { return m_printPending; }
    const std::string& header() const { return m_header; }
    const std::string& footer() const { return m_footer; }
    const std::string& marginLeft() const { return m_marginLeft; }
    const std::string& marginRight() const { return m_marginRight; }
    const std::string& marginTop() const { return m_marginTop; }
    const std::string& marginBottom() const { return m_marginBottom; }

private:
    CFoliantDoc& m_doc;
    BrowserControl& m_browser;
    UiServices& m_ui;
    SettingsStore& m_settings;
    std::string m_header;
    std::string m_footer;
    std::string m_marginLeft = "0";
    std::string m_marginRight = "0";
    std::string m_marginTop = "0";
    std::string m_marginBottom = "0";
    bool m_printPending = false;
    bool m_rightToLeftShown = false;
};

}  // namespace paginor
