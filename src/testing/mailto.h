// Decoding what a composer is handed (a mailto: URI, Thunderbird's -compose
// field list), to compare the draft it describes with what was asked for.
// The unit tests of the routes, the process tests and the attack harness
// all decode with these.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

// The fields with their values percent-decoded (a '+' stays a '+'); a
// mailto: URI's recipient, when it has one, under "to". Or an explanation
// of what is wrong.
struct DecodedUri {
  std::map<std::string, std::string> fields;
  std::string error;
};

namespace mailto_detail {

inline int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

inline bool isAlphanumeric(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A character that may stand for itself in a mailto: query value; '&' and
// '=' may not (they delimit the fields), nor may blanks, controls, '%'
// outside an escape, '#', or any byte beyond ASCII.
inline bool isQueryCharacter(char c) {
  return isAlphanumeric(c) || std::string_view("-._~!$'()*+,;:@/?").find(c) != std::string_view::npos;
}

// A character that may stand for itself in the recipient before '?': not
// ',' (it would start a second recipient), nor anything a query value may
// not hold.
inline bool isAddressCharacter(char c) { return c != ',' && c != '?' && isQueryCharacter(c); }

// `text` percent-decoded, each plain character checked by `plain`; false
// with `error` set when it does not decode.
template <typename Plain>
bool decodeValue(std::string_view text, const std::string& what, Plain plain, std::string& value,
                 std::string& error) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      const int high = i + 2 < text.size() ? hexValue(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? hexValue(text[i + 2]) : -1;
      if (high < 0 || low < 0) {
        error = "broken escape in " + what;
        return false;
      }
      value += static_cast<char>(high * 16 + low);
      i += 2;
    } else if (plain(c)) {
      value += c;
    } else {
      error = "unencoded character " + std::to_string(static_cast<unsigned char>(c)) + " in " + what;
      return false;
    }
  }
  return true;
}

}  // namespace mailto_detail

// "mailto:[recipient]?k=v&k=v...". Strict: a character that has to be
// escaped and is not, a broken escape, a field without '=' or one given
// twice make the URI undecodable.
inline DecodedUri decodeMailto(std::string_view uri) {
  using namespace mailto_detail;
  DecodedUri decoded;
  constexpr std::string_view kScheme = "mailto:";
  if (!uri.starts_with(kScheme)) return {{}, "does not start with mailto:"};
  uri.remove_prefix(kScheme.size());
  const auto query = uri.find('?');
  if (query == std::string_view::npos) return {{}, "no query"};
  if (query > 0) {
    std::string to;
    if (!decodeValue(uri.substr(0, query), "the recipient", isAddressCharacter, to, decoded.error)) return decoded;
    decoded.fields["to"] = to;
  }
  std::string_view rest = uri.substr(query + 1);
  while (!rest.empty()) {
    const std::string_view field = rest.substr(0, rest.find('&'));
    rest.remove_prefix(std::min(rest.size(), field.size() + 1));
    const auto equals = field.find('=');
    if (equals == std::string_view::npos) return {{}, "field without '=': " + std::string(field)};
    const std::string key(field.substr(0, equals));
    std::string value;
    if (!decodeValue(field.substr(equals + 1), "field " + key, isQueryCharacter, value, decoded.error)) {
      return {{}, decoded.error};
    }
    if (!decoded.fields.emplace(key, value).second) return {{}, "field given twice: " + key};
  }
  return decoded;
}

// The fields of Thunderbird's -compose value ("k=v,k='v'"), values unquoted
// and percent-decoded as query values; a file: URL in attachment= decoded
// to its path.
inline DecodedUri decodeComposeFields(std::string_view fields) {
  DecodedUri decoded;
  while (!fields.empty()) {
    const auto equals = fields.find('=');
    if (equals == std::string_view::npos) return {{}, "field without '='"};
    const std::string key(fields.substr(0, equals));
    fields.remove_prefix(equals + 1);
    std::string_view value;
    if (fields.starts_with('\'')) {
      const auto close = fields.find('\'', 1);
      if (close == std::string_view::npos) return {{}, "unterminated quote in " + key};
      value = fields.substr(1, close - 1);
      fields.remove_prefix(close + 1);
    } else {
      value = fields.substr(0, fields.find(','));
      fields.remove_prefix(value.size());
    }
    if (!fields.empty() && !fields.starts_with(',')) return {{}, "text after the value of " + key};
    if (!fields.empty()) fields.remove_prefix(1);
    std::string text(value);
    if (key == "attachment") {
      if (!text.starts_with("file://")) return {{}, "attachment is no file: URL"};
      text = text.substr(7);
    }
    // Decoded as a query value: every character it may hold plainly is one
    // that cannot end a field, except ',' which the field list forbids.
    std::string decodedValue;
    std::string error;
    const auto plain = [](char c) { return c != ',' && mailto_detail::isQueryCharacter(c); };
    if (!mailto_detail::decodeValue(text, key, plain, decodedValue, error)) return {{}, error};
    if (!decoded.fields.emplace(key, decodedValue).second) return {{}, "field given twice: " + key};
  }
  return decoded;
}

// What a client's start must describe: the draft's texts, its recipient
// (none when empty) and the log's path.
struct ExpectedDraft {
  std::string subject;
  std::string body;
  std::string recipient;
  std::string log;
};

namespace mailto_detail {

inline std::string formatFields(const std::map<std::string, std::string>& fields) {
  std::string text = "{";
  for (const auto& [key, value] : fields) text += (text.size() > 1 ? ", " : "") + key + "=[" + value + "]";
  return text + "}";
}

}  // namespace mailto_detail

// Whether one word of a client's start is what `pattern` stands for:
// "<uri>" a mailto: URI with recipient, subject and body, "<uri+log>" the
// same with attach=, "<fields>" and "<fields+log>" Thunderbird's -compose
// value, "<log>" the log's path, "<logurl>" its file: URL; a prefix before
// '<' is kept literally, and any other word stands for itself. Empty when
// it is; otherwise what differs.
inline std::string argumentMismatch(const std::string& actual, const std::string& pattern,
                                    const ExpectedDraft& draft) {
  const auto open = pattern.find('<');
  if (open == std::string::npos) {
    return actual == pattern ? "" : "[" + actual + "] where [" + pattern + "] belongs";
  }
  if (actual.compare(0, open, pattern, 0, open) != 0) {
    return "[" + actual + "] does not start with [" + pattern.substr(0, open) + "]";
  }
  const std::string rest = actual.substr(open);
  const std::string kind = pattern.substr(open);
  if (kind == "<log>") return rest == draft.log ? "" : "[" + rest + "] where the log's path belongs";
  if (kind == "<logurl>") {
    if (!rest.starts_with("file://")) return "[" + rest + "] is no file: URL";
    const DecodedUri path = decodeMailto("mailto:?v=" + rest.substr(7));
    if (!path.error.empty()) return path.error + " in [" + rest + "]";
    return path.fields.at("v") == draft.log ? "" : "[" + rest + "] is not the log's URL";
  }
  const bool fields = kind.starts_with("<fields");
  if (!fields && !kind.starts_with("<uri")) return "unknown pattern " + kind;
  const DecodedUri decoded = fields ? decodeComposeFields(rest) : decodeMailto(rest);
  if (!decoded.error.empty()) return decoded.error + " in [" + rest + "]";
  std::map<std::string, std::string> expected = {{"subject", draft.subject}, {"body", draft.body}};
  if (!draft.recipient.empty()) expected["to"] = draft.recipient;
  if (kind.ends_with("+log>")) expected[fields ? "attachment" : "attach"] = draft.log;
  if (decoded.fields == expected) return "";
  return "[" + rest + "] holds " + mailto_detail::formatFields(decoded.fields) + " where " +
         mailto_detail::formatFields(expected) + " belongs";
}

// The same for a whole start, word by word; the first difference.
inline std::string argumentsMismatch(const std::vector<std::string>& actual, const std::vector<std::string>& patterns,
                                     const ExpectedDraft& draft) {
  if (actual.size() != patterns.size()) {
    return std::to_string(actual.size()) + " words where " + std::to_string(patterns.size()) + " belong";
  }
  for (std::size_t i = 0; i < patterns.size(); ++i) {
    const std::string mismatch = argumentMismatch(actual[i], patterns[i], draft);
    if (!mismatch.empty()) return "word " + std::to_string(i + 1) + ": " + mismatch;
  }
  return "";
}

}  // namespace testing_support
