// Percent-encoding for texts that travel inside a URI or a field list.
#pragma once

#include <string>
#include <string_view>

namespace mail {

// Every byte of the text except the unreserved ASCII characters
// A-Z a-z 0-9 - . _ ~ written as %XX with upper-case hex digits, so that no
// character of it can end a value, start a field or add a part of a URI.
std::string percentEncode(std::string_view text);

}  // namespace mail
