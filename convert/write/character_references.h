#pragma once

// Reports write characters that their code page lacks as character references: numeric ("&#321;",
// "&#x141;") or named by HTML's list ("&eacute;", "&euro;"). The cell texts keep them as written,
// and each output turns them into characters as far as its encoding allows. A '&' of a cell text
// that starts a reference stands for that reference: the readers write a literal '&' that would
// start one as "&amp;", so that every reference is decoded exactly once, as a browser does.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/text_format.h"

namespace paginor {

// HTML reads a name without its ';' inside an attribute value only when neither a letter, a digit
// nor '=' follows it.
enum class ReferenceContext { Text, AttributeValue };

// The length of the character reference that starts at text[at] as HTML reads it, 0 when none
// starts there.
std::size_t CharacterReferenceLength(std::string_view text, std::size_t at,
                                     ReferenceContext context = ReferenceContext::Text);

// Whether the text holds a reference that DecodeCharacterReferences decodes.
bool HoldsCharacterReference(std::string_view text);

// Every character reference replaced by the characters it stands for, by HTML's rules: a numeric
// one with or without its ';', 0, surrogates and values past U+10FFFF standing for U+FFFD and
// 0x80-0x9F for the windows-1252 characters; a named one on HTML's list with its ';', or without
// it for the few names HTML reads so. Anything else stays as written.
std::u16string DecodeCharacterReferences(std::u16string_view text,
                                         ReferenceContext context = ReferenceContext::Text);

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
