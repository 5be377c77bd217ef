// A string value of a key file (desktop entries, a sandbox's information
// file): the escapes \s \n \t \r and \\ as the key file rules define them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mail {

// The value with its escapes read; nothing for a backslash that starts no
// escape, a trailing one included.
std::optional<std::string> unescapeKeyFileValue(std::string_view value);

}  // namespace mail
