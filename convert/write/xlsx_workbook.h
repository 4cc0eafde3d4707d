#pragma once

#include <memory>

#include "convert/write/excel_automation.h"

namespace paginor {

// The workbook application of this system: an in-process model of the object model's calls,
// saved as an Office Open XML workbook (.xlsx) with libxlsxwriter. It reports version "16.0" and
// starts a new workbook with one sheet.
std::unique_ptr<ExcelApplication> StartXlsxApplication();

}  // namespace paginor
