#include "app/foliant_view.h"

#include "app/foliant_doc.h"
#include "platform/settings_table.h"

namespace paginor {

CFoliantView::CFoliantView(CFoliantDoc& doc, BrowserControl& browser, UiServices& ui,
                           SettingsStore& settings)
    : m_doc(doc), m_browser(browser), m_ui(ui), m_settings(settings) {
    LoadMyPageSetup();
}

bool CFoliantView::WriteHtml(std::string& html, bool print, bool rightToLeft) {
    if (m_printPending) {
        m_ui.messageBox("previous print task is not finished ,please try again later");
        return false;
    }
    if (print) {
        m_printPending = true;
    }
    m_browser.loadHtml(std::move(html), m_doc.report().codePage());
    if (print) {
        // Every load is a new document: keep the direction of the page shown before.
        if (m_rightToLeftShown) {
            m_browser.setDirection(true);
        }
    } else if (rightToLeft || m_rightToLeftShown) {
        m_browser.setDirection(rightToLeft);
        m_rightToLeftShown = rightToLeft;
    }
    return true;
}

void CFoliantView::GetSetScrollPos(int& top, int& left, bool read) {
    if (read) {
        m_browser.scrollPosition(top, left);
    } else {
        m_browser.setScrollPosition(top, left);
    }
}

bool CFoliantView::LoadMyPageSetup() {
    if (!keyExists(m_settings, kPageSetupKey)) {
        return true;
    }
    struct Field {
        const SettingValue& value;
        std::string& member;
    };
    const Field fields[] = {
        {kHeaderValue, m_header},
        {kFooterValue, m_footer},
        {kMarginBottomValue, m_marginBottom},
        {kMarginLeftValue, m_marginLeft},
        {kMarginRightValue, m_marginRight},
        {kMarginTopValue, m_marginTop},
    };
    for (const Field& field : fields) {
        std::optional<std::string> text = readStringSetting(m_settings, field.value);
        if (!text) {
            m_ui.messageBox("Failed to get My Page Setup variable");
            return false;
        }
        field.member = *text;
    }
    return true;
}

}  // namespace paginor
