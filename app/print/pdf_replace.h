#pragma once

#include <string>

class QPDF;

namespace paginor {

// Writes pdf in place of the file at path, whole or not at all: false with "Cannot replace ..."
// in error when the written file cannot take the old one's place. What QPDFWriter throws goes on
// to the caller, the file at path then staying as it was.
bool ReplacePdf(QPDF& pdf, const std::string& path, std::string& error);

}  // namespace paginor
