#pragma once

#include "core/report_core.h"

namespace paginor {

// The one document: the loaded report for the life of the process.
class CFoliantDoc {
public:
    CReportCore& report() { return m_report; }
    const CReportCore& report() const { return m_report; }

    void SetPrintDialogOpen(bool open) { m_printDialogOpen = open; }
    bool IsPrintDialogOpen() const { return m_printDialogOpen; }

private:
    CReportCore m_report;
    bool m_printDialogOpen = false;
};

}  // namespace paginor
