#pragma once

// The workbook part and its relationships.

#include <cstddef>
#include <string>
#include <vector>

namespace paginor::xlsx {

std::string WorkbookXml(const std::vector<std::string>& sheets, std::size_t active);
std::string WorkbookRelationships(std::size_t sheets);

}  // namespace paginor::xlsx
