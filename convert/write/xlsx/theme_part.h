#pragma once

// The theme part: the default office theme.

#include <string>

namespace paginor::xlsx {

std::string ThemeXml();

}  // namespace paginor::xlsx
