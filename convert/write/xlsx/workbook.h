#pragma once

#include <memory>

#include "convert/write/excel_automation.h"

namespace paginor {

// The workbook application of this system: an in-process model of the object model's calls,
// saved as an Office Open XML workbook (.xlsx) package of its own making. Sheets take rows
// written on them or made apart in batch sheets, possibly on other threads; each piece of a
// sheet's rows is written as XML and compressed as soon as it is settled, on worker threads when
// the application has them, so memory holds the pieces in flight, not the workbook. It reports
// version "16.0" and starts a new workbook with one sheet.
std::unique_ptr<ExcelApplication> StartXlsxApplication();

}  // namespace paginor
