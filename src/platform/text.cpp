#include "platform/text.h"

#include <cstdlib>
#include <memory>

#include <utf8proc.h>

namespace platform {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using MallocedBytes = std::unique_ptr<utf8proc_uint8_t, FreeDeleter>;

// NFD form of valid UTF-8 text. utf8proc stops at U+0000 when asked for
// NUL-terminated input, so the length is always passed explicitly.
MallocedBytes decompose(std::string_view text, utf8proc_ssize_t& length) {
  utf8proc_uint8_t* out = nullptr;
  length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                        static_cast<utf8proc_ssize_t>(text.size()), &out,
                        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_DECOMPOSE));
  return MallocedBytes(length < 0 ? nullptr : out);
}

std::string_view view(const MallocedBytes& bytes, utf8proc_ssize_t length) {
  return {reinterpret_cast<const char*>(bytes.get()), static_cast<size_t>(length)};
}

// The code point that ends `text`, which must be valid UTF-8 and not empty.
utf8proc_int32_t lastCodepoint(std::string_view text) {
  std::size_t start = text.size() - 1;
  while (start > 0 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
  utf8proc_int32_t codepoint = -1;
  utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data() + start),
                   static_cast<utf8proc_ssize_t>(text.size() - start), &codepoint);
  return codepoint;
}

// Code points in valid UTF-8 text: the bytes that are not continuation bytes.
std::size_t codepointCount(std::string_view text) {
  std::size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

bool isAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// True when `text` is valid UTF-8 and `accept` holds for each of its code
// points.
template <typename Accept>
bool everyCodepoint(std::string_view text, Accept accept) {
  const auto* p = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  auto remaining = static_cast<utf8proc_ssize_t>(text.size());
  while (remaining > 0) {
    utf8proc_int32_t codepoint = 0;
    const utf8proc_ssize_t used = utf8proc_iterate(p, remaining, &codepoint);
    if (used <= 0 || codepoint < 0 || !accept(codepoint)) return false;
    p += used;
    remaining -= used;
  }
  return true;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
  return everyCodepoint(text, [](utf8proc_int32_t) { return true; });
}

bool isPrintableText(std::string_view text) {
  return everyCodepoint(text, [](utf8proc_int32_t codepoint) {
    switch (utf8proc_category(codepoint)) {
      case UTF8PROC_CATEGORY_CC:
      case UTF8PROC_CATEGORY_CF:
      case UTF8PROC_CATEGORY_CS:
      case UTF8PROC_CATEGORY_CO:
      case UTF8PROC_CATEGORY_CN:
      case UTF8PROC_CATEGORY_ZL:
      case UTF8PROC_CATEGORY_ZP:
        return false;
      default:
        return true;
    }
  });
}

bool startsWithBlank(std::string_view text) {
  utf8proc_int32_t codepoint = -1;
  if (text.empty() || utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                       static_cast<utf8proc_ssize_t>(text.size()), &codepoint) <= 0) {
    return false;
  }
  return codepoint >= 0 && utf8proc_category(codepoint) == UTF8PROC_CATEGORY_ZS;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
  if (a == b) return true;
  // ASCII letters have no other canonical form, but some other characters
  // decompose to ASCII (U+212A KELVIN SIGN is "K"): only two ASCII texts
  // can be told apart without normalising.
  if (isAscii(a) && isAscii(b)) return false;
  if (!isValidUtf8(a) || !isValidUtf8(b)) return false;
  // Decomposing never shortens a text counted in code points, and the
  // library orders a run of combining marks in quadratic time. So the
  // shorter text is decomposed first: a longer text with more code points
  // than that decomposition cannot be equal, and is never decomposed itself.
  const std::string_view shorter = a.size() <= b.size() ? a : b;
  const std::string_view longer = a.size() <= b.size() ? b : a;
  utf8proc_ssize_t shorterLength = 0;
  const MallocedBytes nfdShorter = decompose(shorter, shorterLength);
  if (!nfdShorter) return false;
  const std::string_view shorterForm = view(nfdShorter, shorterLength);
  if (codepointCount(longer) > codepointCount(shorterForm)) return false;
  utf8proc_ssize_t longerLength = 0;
  const MallocedBytes nfdLonger = decompose(longer, longerLength);
  if (!nfdLonger) return false;
  return shorterForm == view(nfdLonger, longerLength);
}

bool hasTextPrefix(std::string_view text, std::string_view prefix) {
  if (prefix.empty()) return true;
  if (!isValidUtf8(text) || !isValidUtf8(prefix)) return text.starts_with(prefix);
  utf8proc_ssize_t textLength = 0;
  utf8proc_ssize_t prefixLength = 0;
  const MallocedBytes nfdText = decompose(text, textLength);
  const MallocedBytes nfdPrefix = decompose(prefix, prefixLength);
  if (!nfdText || !nfdPrefix) return false;
  const std::string_view whole = view(nfdText, textLength);
  const std::string_view head = view(nfdPrefix, prefixLength);
  if (!whole.starts_with(head)) return false;
  if (whole.size() == head.size()) return true;
  utf8proc_int32_t next = -1;
  utf8proc_iterate(reinterpret_cast<const utf8proc_uint8_t*>(whole.data() + head.size()),
                   static_cast<utf8proc_ssize_t>(whole.size() - head.size()), &next);
  return utf8proc_grapheme_break(lastCodepoint(head), next);
}

std::string foldAsciiCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

}  // namespace platform
