#pragma once

#include <string_view>

namespace paginor {

// The file extension for a content type, "" when no row matches. Parameters ("; charset=...")
// and surrounding blanks are ignored; the type compares exactly, ignoring ASCII case.
std::string_view ExtensionFromContentType(std::string_view contentType);

// The content type for a file extension (without the dot), "" when no row matches. The
// extension compares exactly, ignoring ASCII case.
std::string_view ContentTypeFromExtension(std::string_view extension);

}  // namespace paginor
