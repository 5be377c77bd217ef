#include "mailto.h"

#include <algorithm>

namespace harness {
namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// A character that may stand for itself in a mailto: query value; '&' and
// '=' may not (they delimit the fields), nor may blanks, controls, '%' outside
// an escape, '#', or any byte beyond ASCII.
bool isQueryCharacter(char c) {
  const bool alphanumeric = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  return alphanumeric || std::string_view("-._~!$'()*+,;:@/?").find(c) != std::string_view::npos;
}

}  // namespace

DecodedUri decodeMailto(std::string_view uri) {
  DecodedUri decoded;
  constexpr std::string_view kStart = "mailto:?";
  if (!uri.starts_with(kStart)) return {{}, "does not start with mailto:?"};
  std::string_view rest = uri.substr(kStart.size());
  while (!rest.empty()) {
    const std::string_view field = rest.substr(0, rest.find('&'));
    rest.remove_prefix(std::min(rest.size(), field.size() + 1));
    const auto equals = field.find('=');
    if (equals == std::string_view::npos) return {{}, "field without '=': " + std::string(field)};
    const std::string key(field.substr(0, equals));
    std::string value;
    for (std::size_t i = equals + 1; i < field.size(); ++i) {
      const char c = field[i];
      if (c == '%') {
        const int high = i + 2 < field.size() ? hexValue(field[i + 1]) : -1;
        const int low = i + 2 < field.size() ? hexValue(field[i + 2]) : -1;
        if (high < 0 || low < 0) return {{}, "broken escape in field " + key};
        value += static_cast<char>(high * 16 + low);
        i += 2;
      } else if (isQueryCharacter(c)) {
        value += c;
      } else {
        return {{}, "unencoded character " + std::to_string(static_cast<unsigned char>(c)) + " in field " + key};
      }
    }
    if (!decoded.fields.emplace(key, value).second) return {{}, "field given twice: " + key};
  }
  return decoded;
}

}  // namespace harness
