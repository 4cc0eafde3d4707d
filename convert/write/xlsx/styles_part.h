#pragma once

// The styles part.

#include <string>

#include "convert/write/xlsx/model.h"

namespace paginor::xlsx {

// styles.xml: cell format i is the table's style i.
std::string StylesXml(const StyleTable& styles);

}  // namespace paginor::xlsx
