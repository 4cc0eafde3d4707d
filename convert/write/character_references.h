#pragma once

// Reports write characters that their code page lacks as character references: numeric ("&#321;",
// "&#x141;") or named by HTML's list ("&eacute;", "&euro;"). The cell texts keep them as written,
// and each output turns them into characters as far as its encoding allows. The names the readers
// decode themselves ("&amp;", "&lt;", "&gt;", "&quot;", "&nbsp;") are text by then and stay so.

#include <cstdint>
#include <string>
#include <string_view>

#include "core/text_format.h"

namespace paginor {

// Whether the text holds a reference that DecodeCharacterReferences decodes.
bool HoldsCharacterReference(std::string_view text);

// Every well-formed character reference replaced by the characters it names. A reference needs
// its ';'; a numeric one must name a Unicode scalar value other than NUL, a named one must be on
// HTML's list; anything else stays as written.
std::u16string DecodeCharacterReferences(std::u16string_view text);

// A cell text of the report's code page for a Unicode output: converted, references decoded.
std::u16string CellTextToUnicode(std::string_view text, std::int32_t codePage);

// A cell text for an output in the report's own code page: each reference whose character the
// code page holds becomes that character's bytes; the others stay as written, so that no
// character is lost.
std::string EncodeCharacterReferences(std::string_view text, std::int32_t codePage);

// Most cell texts are plain ASCII of the code page without references and need no conversion:
// such a text is appended with '&', '<', '>' and '"' as entities and each line feed as lineFeed.
// False, with nothing appended, for any other text.
bool AppendPlainMarkupText(std::string& out, std::string_view text, std::int32_t codePage,
                           std::string_view lineFeed);

}  // namespace paginor
