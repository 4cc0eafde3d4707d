#pragma once

#include <functional>
#include <string>

#include "app/print/page_setup_store.h"
#include "app/print/print_adapters.h"
#include "app/print/print_environment.h"
#include "app/qt/print_dialogs.h"
#include "platform/printer_system.h"

namespace paginor {

class CFoliantView;
class UiServices;

// The print-task queue's printer system, printer lock, store and dialogs for the window's frame.
class QueuePrinting {
public:
    QueuePrinting(QWidget* window, PageSetupStore& store, CFoliantView& view, UiServices& ui,
                  std::function<void()> myPageSetup);

    PrintEnvironment& environment() { return m_environment; }
    QtPrintDialogs& dialogs() { return m_dialogs; }
    void setReportAddress(std::function<std::string()> address) {
        m_environment.reportAddress = std::move(address);
    }

private:
    CupsPrinterSystem m_printers;
    SystemPrintSpool m_spool{m_printers};
    NamedPrinterLock m_lock;
    StorePageSetupAccess m_store;
    QtPrintDialogs m_dialogs;
    PrintEnvironment m_environment;
};

}  // namespace paginor
