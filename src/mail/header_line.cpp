#include "mail/header_line.h"

#include <cstdint>

namespace mail {
namespace {

std::string base64(std::string_view bytes) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = bytes.size() - i < 3 ? bytes.size() - i : 3;
    std::uint32_t group = 0;
    for (std::size_t k = 0; k < 3; ++k) {
      group = (group << 8) | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0U);
    }
    for (std::size_t k = 0; k < 4; ++k) {
      out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 0x3F] : '=';
    }
  }
  return out;
}

bool isContinuationByte(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// 45 bytes make 60 characters of base64: with "=?UTF-8?B?" and "?=" an
// encoded word of 72, within the 75 a word may have.
constexpr std::size_t kWordBytes = 45;

}  // namespace

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

std::string encodedWords(std::string_view text) {
  std::string value;
  while (!text.empty()) {
    std::size_t cut = text.size() < kWordBytes ? text.size() : kWordBytes;
    // A word ends before a character's continuation bytes, never inside it;
    // bytes that begin no character (invalid UTF-8) are cut where they fall.
    std::size_t back = cut;
    while (back > 0 && back < text.size() && isContinuationByte(text[back])) --back;
    if (back > 0) cut = back;
    if (!value.empty()) value += "\n ";
    value += "=?UTF-8?B?" + base64(text.substr(0, cut)) + "?=";
    text.remove_prefix(cut);
  }
  return value;
}

}  // namespace mail
