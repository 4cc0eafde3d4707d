#pragma once

#include "app/print/page_setup_store.h"
#include "core/report_core.h"

namespace paginor {

// The one document: the loaded report and the page-setup store for the life of the process.
class CFoliantDoc {
public:
    CReportCore& report() { return m_report; }
    const CReportCore& report() const { return m_report; }

    PageSetupStore* GetPageSetupStore() { return &m_pageSetupStore; }

    void SetPrintDialogOpen(bool open) { m_printDialogOpen = open; }
    bool IsPrintDialogOpen() const { return m_printDialogOpen; }

private:
    CReportCore m_report;
    PageSetupStore m_pageSetupStore;
    bool m_printDialogOpen = false;
};

}  // namespace paginor
