#pragma once

// The parts of the package around the workbook: its content types, its relationships and its
// properties.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace paginor::xlsx {

std::string PackageRelationships();
std::string ContentTypes(std::size_t sheets, const std::vector<std::int32_t>& drawings,
                         const std::vector<std::string>& extensions);
std::string AppProperties(const std::vector<std::string>& sheets);
std::string CoreProperties(std::time_t created);

}  // namespace paginor::xlsx
