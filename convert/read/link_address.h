#pragma once

// The address of a report's link as a browser follows it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace paginor {

// An href value as written (bytes of the code page, without its quotes) as an ASCII URI: its
// references decoded as in an attribute value; blanks and control characters at either end, and
// TABs and line breaks anywhere, dropped; at most maxCharacters characters kept; then every
// character a URI cannot hold as it stands written as %XX of its UTF-8 bytes, and in the query
// of its code-page bytes, as browsers send the query of a page's link.
std::string LinkAddressToUri(std::string_view value, std::int32_t codePage,
                             std::size_t maxCharacters);

// Bytes as URI text: those a URI cannot hold as they stand (blanks, controls, bytes from 0x80,
// '"', '<', '>', '\\', '^', '`', '{', '|', '}', and a '%' that starts no %XX) written as %XX.
std::string EscapeUriBytes(std::string_view bytes);

}  // namespace paginor
