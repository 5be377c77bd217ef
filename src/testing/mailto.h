// Decoding what a composer is handed (a mailto: URI, Thunderbird's -compose
// field list), to compare the draft it describes with what was asked for.
// The unit tests of the routes, the process tests and the attack harness
// all decode with these.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
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
    if (fields.starts_with('"')) {
      // message="<path>": the file the body is read from, a path as it is.
      const auto close = fields.find('"', 1);
      if (close == std::string_view::npos) return {{}, "unterminated double quote in " + key};
      if (key != "message") return {{}, "double-quoted value of " + key};
      const std::string path(fields.substr(1, close - 1));
      fields.remove_prefix(close + 1);
      if (!fields.empty() && !fields.starts_with(',')) return {{}, "text after the value of " + key};
      if (!fields.empty()) fields.remove_prefix(1);
      if (!decoded.fields.emplace(key, path).second) return {{}, "field given twice: " + key};
      continue;
    }
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
  // The job's texts file, which Thunderbird (message=) and NeoMutt (-H)
  // read the texts from; "" when the start may not name one.
  std::string textsFile;
};

namespace mailto_detail {

inline std::string formatFields(const std::map<std::string, std::string>& fields) {
  std::string text = "{";
  for (const auto& [key, value] : fields) text += (text.size() > 1 ? ", " : "") + key + "=[" + value + "]";
  return text + "}";
}

// Standard base64 with padding; false when `text` is not that.
inline bool decodeBase64(std::string_view text, std::string& out) {
  constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    unsigned group = 0;
    int padding = 0;
    for (std::size_t k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && i + 4 == text.size() && k >= 2) {
        ++padding;
        group <<= 6;
        continue;
      }
      const auto at = kAlphabet.find(c);
      if (at == std::string_view::npos || padding > 0) return false;
      group = (group << 6) | static_cast<unsigned>(at);
    }
    out += static_cast<char>((group >> 16) & 0xFF);
    if (padding < 2) out += static_cast<char>((group >> 8) & 0xFF);
    if (padding < 1) out += static_cast<char>(group & 0xFF);
  }
  return true;
}

// The bytes of the texts file at `path` when it is a regular file of the
// effective user with no permission for anyone else; otherwise nothing,
// and `error` says why.
inline std::optional<std::string> privateFileBytes(const std::string& path, std::string& error) {
  struct stat file {};
  if (::lstat(path.c_str(), &file) != 0) {
    error = "no texts file at [" + path + "]";
    return std::nullopt;
  }
  if (!S_ISREG(file.st_mode) || file.st_uid != ::geteuid() || (file.st_mode & 07777) != 0600) {
    error = "the texts file [" + path + "] is not a private regular file of the user's";
    return std::nullopt;
  }
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace mailto_detail

// A draft file as NeoMutt reads it (-H): "Name: value" header lines, a
// folded line going on with a blank, then an empty line and the body as
// it is. The header values under their names in lower case ("to",
// "subject"); a subject of encoded words ("=?UTF-8?B?...?=" only, as the
// program writes them) decoded; the body under "body".
inline DecodedUri decodeDraftFile(std::string_view file) {
  DecodedUri decoded;
  const auto end = file.find("\n\n");
  if (end == std::string_view::npos) return {{}, "no empty line after the headers"};
  std::string_view headers = file.substr(0, end + 1);
  decoded.fields["body"] = std::string(file.substr(end + 2));
  while (!headers.empty()) {
    // One header: up to a line break not followed by a blank.
    std::size_t stop = 0;
    while ((stop = headers.find('\n', stop)) != std::string_view::npos && stop + 1 < headers.size() &&
           headers[stop + 1] == ' ') {
      ++stop;
    }
    const std::string_view line = headers.substr(0, stop);
    headers.remove_prefix(std::min(headers.size(), stop + 1));
    const auto colon = line.find(": ");
    if (colon == std::string_view::npos) return {{}, "header line without ': '"};
    std::string name(line.substr(0, colon));
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string_view value = line.substr(colon + 2);
    std::string text;
    if (name == "subject") {
      while (!value.empty()) {
        constexpr std::string_view kOpen = "=?UTF-8?B?";
        const auto close = value.find("?=");
        if (!value.starts_with(kOpen) || close == std::string_view::npos) return {{}, "subject is no encoded word"};
        if (!mailto_detail::decodeBase64(value.substr(kOpen.size(), close - kOpen.size()), text)) {
          return {{}, "broken base64 in the subject"};
        }
        value.remove_prefix(close + 2);
        if (value.starts_with("\n ")) value.remove_prefix(2);
      }
    } else {
      text = std::string(value);
    }
    if (!decoded.fields.emplace(name, text).second) return {{}, "header given twice: " + name};
  }
  return decoded;
}

// Whether one word of a client's start is what `pattern` stands for:
// "<uri>" a mailto: URI with recipient, subject and body, "<uri+log>" the
// same with attach=, "<fields>" and "<fields+log>" Thunderbird's -compose
// value (its body read from the texts file when it names one), "<draftfile>"
// NeoMutt's draft file, "<log>" the log's path, "<logurl>" its file: URL; a prefix before
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
  std::map<std::string, std::string> expected = {{"subject", draft.subject}, {"body", draft.body}};
  if (!draft.recipient.empty()) expected["to"] = draft.recipient;
  std::string error;
  if (kind == "<draftfile>") {
    // NeoMutt's draft file: recipient, subject and body, none in the word.
    if (draft.textsFile.empty() || rest != draft.textsFile) return "[" + rest + "] where the texts file belongs";
    const auto bytes = mailto_detail::privateFileBytes(rest, error);
    if (!bytes) return error;
    const DecodedUri file = decodeDraftFile(*bytes);
    if (!file.error.empty()) return file.error + " in the texts file";
    if (file.fields == expected) return "";
    return "the texts file holds " + mailto_detail::formatFields(file.fields) + " where " +
           mailto_detail::formatFields(expected) + " belongs";
  }
  const bool fields = kind.starts_with("<fields");
  if (!fields && !kind.starts_with("<uri")) return "unknown pattern " + kind;
  const DecodedUri decoded = fields ? decodeComposeFields(rest) : decodeMailto(rest);
  if (!decoded.error.empty()) return decoded.error + " in [" + rest + "]";
  std::map<std::string, std::string> got = decoded.fields;
  if (const auto message = got.find("message"); message != got.end()) {
    // Thunderbird's body from the texts file, and from nowhere else.
    if (draft.textsFile.empty() || message->second != draft.textsFile) {
      return "[" + rest + "] names [" + message->second + "] where the texts file belongs";
    }
    if (got.count("body") != 0) return "[" + rest + "] holds the body as well as the texts file";
    const auto bytes = mailto_detail::privateFileBytes(message->second, error);
    if (!bytes) return error;
    got["body"] = *bytes;
    got.erase("message");
  }
  if (kind.ends_with("+log>")) expected[fields ? "attachment" : "attach"] = draft.log;
  if (got == expected) return "";
  return "[" + rest + "] holds " + mailto_detail::formatFields(got) + " where " +
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
