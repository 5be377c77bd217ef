// Decoding the mailto: URI a composer is handed, to compare the draft it
// describes with what the job asked for.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace harness {

// The fields of "mailto:?k=v&k=v..." with their values percent-decoded (a
// '+' stays a '+'), or an explanation of what is wrong with the URI.
struct DecodedUri {
  std::map<std::string, std::string> fields;
  std::string error;
};

// Strict: a character that has to be escaped in a query value and is not,
// a broken escape, a field without '=' or one given twice make the URI
// undecodable.
DecodedUri decodeMailto(std::string_view uri);

}  // namespace harness
