#pragma once

// Shared by the conversion fuzz targets: one conversion whose failure must be clean, and reading
// back what a successful one wrote.

#include <sys/stat.h>

#include <fstream>
#include <sstream>
#include <string>

#include "convert/conversion_driver.h"
#include "core/report_core.h"
#include "tests/fuzz/fuzz_support.h"

namespace paginor::fuzz {

// Converts as the options say. A conversion may refuse the report with its own error, a message
// and no file left; then this gives false.
inline bool convertOrRefuseCleanly(CReportCore& core, const ExcelOutputOptions& options,
                                   const char* name) {
    ::unlink(options.outputPath.c_str());
    try {
        OutputToExcelFile(core, options);
    } catch (const ConversionError& error) {
        check(!error.text().empty(), "a failed conversion gives a message");
        struct stat info {};
        check(::stat(options.outputPath.c_str(), &info) != 0, "a failed conversion leaves no file",
              name);
        return false;
    } catch (const ReportError&) {
        fail("a conversion raises its own error type", core.GetErrorText());
    }
    return true;
}

inline std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace paginor::fuzz
