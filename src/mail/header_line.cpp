#include "mail/header_line.h"

namespace mail {

bool isOneHeaderLine(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if ((byte < 0x20 && byte != '\t') || byte == 0x7F) return false;
    const auto next = [&](std::size_t n) { return i + n < text.size() ? static_cast<unsigned char>(text[i + n]) : 0; };
    // U+0080-U+009F, NEL among them: C2 80 - C2 9F.
    if (byte == 0xC2 && next(1) >= 0x80 && next(1) <= 0x9F) return false;
    // U+2028 and U+2029: E2 80 A8 and E2 80 A9.
    if (byte == 0xE2 && next(1) == 0x80 && (next(2) == 0xA8 || next(2) == 0xA9)) return false;
  }
  return true;
}

}  // namespace mail
