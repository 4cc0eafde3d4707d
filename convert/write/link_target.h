#pragma once

// Where a link of a report's cell may lead from a converted file; one rule for every writer.

#include <string>
#include <string_view>

namespace paginor {

// A web address (http: or https:) leads where it says. Any other scheme (javascript:, vbscript:,
// data:, file:, ms-excel: ...) could open or run anything: the link leads to the report's base
// folder instead, or nowhere when the report has none. A relative address joins that folder.
// The result is an absolute URI (a local folder or file as a file: URI), empty for no link.
std::string LinkTarget(std::string_view address, std::string_view baseFolder);

}  // namespace paginor
