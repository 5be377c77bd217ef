// The draft's recipient: one plain e-mail address, checked before it goes
// anywhere and encoded wherever it travels.
#pragma once

#include <string>
#include <string_view>

namespace mail {

// True when `address` is one plain address: a dot-atom local part of at
// most 64 bytes, '@', and a DNS domain of two or more labels (letters,
// digits and inner hyphens, at most 63 bytes each, the last not all
// digits), at most 254 bytes in all. Nothing a client could read as a
// second address, a display name, a comment or another field passes: no
// quotes, blanks, commas, angle brackets, parentheses, semicolons, percent
// signs, control characters or bytes beyond ASCII.
bool isPlainAddress(std::string_view address);

// A plain address as it travels inside a URI or a field list: the local
// part percent-encoded, then '@' and the domain, which needs no encoding.
std::string encodedAddress(std::string_view address);

}  // namespace mail
