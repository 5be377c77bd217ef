#include "mail/helper_words.h"

namespace mail {

std::optional<std::string> packWords(const std::vector<std::string>& words) {
  std::string bytes;
  for (const std::string& word : words) {
    if (word.find('\0') != std::string::npos) return std::nullopt;
    bytes += word;
    bytes += '\0';
    if (bytes.size() > kMaxHelperWordsSize) return std::nullopt;
  }
  return bytes;
}

std::optional<std::vector<std::string>> unpackWords(std::string_view bytes, std::size_t maxWords) {
  if (bytes.size() > kMaxHelperWordsSize || (!bytes.empty() && bytes.back() != '\0')) return std::nullopt;
  std::vector<std::string> words;
  while (!bytes.empty()) {
    if (words.size() == maxWords) return std::nullopt;
    const auto end = bytes.find('\0');
    words.emplace_back(bytes.substr(0, end));
    bytes.remove_prefix(end + 1);
  }
  return words;
}

}  // namespace mail
