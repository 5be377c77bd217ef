// JSON reading and writing with the rules the host relies on.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/plist_value.h"

namespace platform {

using Json = nlohmann::json;

// Strict RFC 8259 JSON in UTF-8: invalid UTF-8, lone surrogates, comments,
// trailing commas and trailing garbage are rejected, and so is an object in
// which a key occurs twice (the document is ambiguous, so fail closed).
std::optional<Json> parseJson(std::string_view bytes);

// Compact UTF-8 JSON: no blanks or line breaks, non-ASCII characters as
// UTF-8, each "/" written as "\/". Nothing when the value cannot be
// serialised (a text that is not valid UTF-8, a number that is not finite).
std::optional<std::string> serializeJson(const Json& value);

// The JSON form of a property-list value: strings, numbers, Booleans,
// arrays and dictionaries map to their counterparts; a date or data value,
// or a real that is not finite, has none.
std::optional<Json> jsonFromPlist(const PlistValue& value);

}  // namespace platform
