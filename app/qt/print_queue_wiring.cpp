#include "app/qt/print_queue_wiring.h"

#include "app/foliant_view.h"
#include "app/ui_services.h"

namespace paginor {

namespace {

std::vector<std::string> splitTabs(const std::string& list) {
    std::vector<std::string> names;
    std::size_t at = 0;
    while (at < list.size()) {
        const std::size_t tab = std::min(list.find('\t', at), list.size());
        if (tab > at) {
            names.push_back(list.substr(at, tab - at));
        }
        at = tab + 1;
    }
    return names;
}

}  // namespace

QueuePrinting::QueuePrinting(QWidget* window, PageSetupStore& store, CFoliantView& view,
                             UiServices& ui, std::function<void()> myPageSetup)
    : m_store(store),
      m_dialogs(window),
      m_environment{m_spool, m_lock, m_store, m_dialogs, nullptr} {
    m_dialogs.ui = &ui;
    m_dialogs.pageSetupCommand = std::move(myPageSetup);
    // "Print Setting ...": the page setup of the printer chosen in the list, then what it chose.
    m_dialogs.printSettingCommand = [&view, &ui](PrintSetup& setup, const std::string& chosen,
                                                 std::vector<std::string>& printers) {
        if (!chosen.empty()) {
            std::string printerOut, paperOut, list;
            int keep = 2;
            bool printerSet = false, paperSet = false, dialogNeeded = false;
            view.CallPrintSetup("", chosen, printerOut, paperOut, keep, printerSet, paperSet,
                                dialogNeeded, list);
        }
        if (!view.ShowPageSetupDialog()) {
            ui.messageBox(view.printSetupError(), MessageButtons::Ok, MessageIcon::Stop);
        }
        std::string printer;
        std::string paper;
        std::string orientationText;
        std::string list;
        int orientation = 0;
        if (view.CallGetPageSetup(printer, paper, orientation, orientationText, list)) {
            setup.SetPrinterChoice(printer, paper, orientation);
            printers = splitTabs(list);
        }
    };
}

}  // namespace paginor
