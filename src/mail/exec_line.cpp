#include "mail/exec_line.h"

namespace mail {
namespace {

// Characters an argument may hold only inside double quotes.
constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#()`";
// Characters that stand escaped by a backslash inside double quotes.
constexpr std::string_view kQuotedEscapes = "\"`$\\";
// Field codes of older versions of the rules, dropped wherever they stand.
constexpr std::string_view kDeprecatedCodes = "dDnNvm";

bool isTargetCode(char code) { return code == 'u' || code == 'U' || code == 'f' || code == 'F'; }

// A double-quoted argument starting at exec[i] == '"'; `i` ends past its
// closing quote. Nothing when it is not closed or breaks the rules inside.
std::optional<std::string> quotedArgument(std::string_view exec, std::size_t& i) {
  std::string text;
  for (++i; i < exec.size(); ++i) {
    const char c = exec[i];
    if (c == '"') {
      ++i;
      return text;
    }
    if (c == '`' || c == '$') return std::nullopt;  // must be escaped
    if (c == '\\') {
      if (i + 1 == exec.size() || kQuotedEscapes.find(exec[i + 1]) == std::string_view::npos) return std::nullopt;
      text += exec[++i];
      continue;
    }
    if (c == '%') {
      // A field code has no meaning inside quotes; only the literal % does.
      if (i + 1 == exec.size() || exec[i + 1] != '%') return std::nullopt;
      ++i;
    }
    text += c;
  }
  return std::nullopt;
}

// An unquoted argument that is not a field code standing alone: its %%
// read as %, deprecated codes dropped. Nothing when it holds a reserved
// character or any other % sequence (a field code inside an argument).
std::optional<std::string> plainArgument(std::string_view argument) {
  std::string text;
  for (std::size_t j = 0; j < argument.size(); ++j) {
    const char c = argument[j];
    if (c == '%') {
      if (j + 1 == argument.size()) return std::nullopt;
      const char code = argument[++j];
      if (code == '%') {
        text += '%';
      } else if (kDeprecatedCodes.find(code) == std::string_view::npos) {
        return std::nullopt;
      }
      continue;
    }
    if (kReserved.find(c) != std::string_view::npos) return std::nullopt;
    text += c;
  }
  return text;
}

}  // namespace

std::optional<std::vector<ExecWord>> parseExecLine(std::string_view exec, const ExecKeys& keys) {
  std::vector<ExecWord> words;
  bool sawTarget = false;
  bool first = true;
  std::size_t i = 0;
  while (true) {
    while (i < exec.size() && exec[i] == ' ') ++i;
    if (i == exec.size()) break;
    const bool isFirst = first;
    first = false;
    if (exec[i] == '"') {
      auto text = quotedArgument(exec, i);
      // The quotes enclose the whole argument.
      if (!text || (i < exec.size() && exec[i] != ' ')) return std::nullopt;
      words.push_back({std::move(*text), false});
      continue;
    }
    const std::size_t start = i;
    while (i < exec.size() && exec[i] != ' ') ++i;
    const std::string_view argument = exec.substr(start, i - start);
    if (argument.size() == 2 && argument[0] == '%' && argument[1] != '%' &&
        kDeprecatedCodes.find(argument[1]) == std::string_view::npos) {
      const char code = argument[1];
      // The program is named, never a field code's expansion.
      if (isFirst) return std::nullopt;
      if (isTargetCode(code)) {
        if (sawTarget) return std::nullopt;
        sawTarget = true;
        words.push_back({std::string(argument), true});
      } else if (code == 'i') {
        if (!keys.icon.empty()) {
          words.push_back({"--icon", false});
          words.push_back({keys.icon, false});
        }
      } else if (code == 'c') {
        if (!keys.name.empty()) words.push_back({keys.name, false});
      } else if (code == 'k') {
        if (!keys.location.empty()) words.push_back({keys.location, false});
      } else {
        return std::nullopt;
      }
      continue;
    }
    auto text = plainArgument(argument);
    if (!text) return std::nullopt;
    // An argument made only of deprecated codes is gone with them.
    if (text->empty()) {
      if (isFirst) return std::nullopt;
      continue;
    }
    words.push_back({std::move(*text), false});
  }
  if (words.empty() || words.front().text.empty()) return std::nullopt;
  return words;
}

std::vector<std::string> execTexts(const std::vector<ExecWord>& words) {
  std::vector<std::string> texts;
  texts.reserve(words.size());
  for (const ExecWord& word : words) texts.push_back(word.text);
  return texts;
}

}  // namespace mail
