#include "mail/mailer_command.h"

#include <array>
#include <optional>

namespace mail {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// Characters that, unquoted, make the shell expand, redirect, glob or
// join commands.
constexpr std::string_view kActive = "$`;&|<>()*?[";

// Words a shell takes as its own when they come first.
constexpr std::array<std::string_view, 36> kShellWords{
    "!",     "{",      "}",      "case",  "do",    "done",   "elif",  "else",    "esac",   "fi",     "for",   "if",
    "in",    "then",   "until",  "while", ".",     ":",      "alias", "break",   "cd",     "command", "continue",
    "eval",  "exec",   "exit",   "export", "local", "read",  "readonly", "return", "set", "shift", "trap", "type",
    "unset"};

bool isShellWord(std::string_view word) {
  for (const std::string_view known : kShellWords) {
    if (word == known) return true;
  }
  return false;
}

bool isName(std::string_view name) {
  if (name.empty() || (name[0] >= '0' && name[0] <= '9')) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

struct Word {
  std::string text;
  bool quotedAnywhere = false;
  std::size_t unquotedPrefix = 0;  // how many leading characters stood unquoted
};

// The words of `command` when quoting and backslashes are all a shell would
// act on; nothing otherwise.
std::optional<std::vector<Word>> plainWords(std::string_view command) {
  std::vector<Word> words;
  std::optional<Word> word;
  auto text = [&]() -> Word& {
    if (!word) word.emplace();
    return *word;
  };
  for (std::size_t i = 0; i < command.size(); ++i) {
    const char c = command[i];
    if (isBlank(c)) {
      if (word) words.push_back(std::move(*word));
      word.reset();
      continue;
    }
    const bool startsWord = !word.has_value();
    if (c == '\'') {
      const auto close = command.find('\'', i + 1);
      if (close == std::string_view::npos) return std::nullopt;
      text().text.append(command.substr(i + 1, close - i - 1));
      text().quotedAnywhere = true;
      i = close;
      continue;
    }
    if (c == '"') {
      Word& w = text();
      w.quotedAnywhere = true;
      for (++i;; ++i) {
        if (i >= command.size()) return std::nullopt;
        const char d = command[i];
        if (d == '"') break;
        if (d == '$' || d == '`') return std::nullopt;
        if (d == '\\' && i + 1 < command.size() && std::string_view("$`\"\\\n").find(command[i + 1]) != std::string_view::npos) {
          if (command[++i] != '\n') w.text += command[i];
          continue;
        }
        w.text += d;
      }
      continue;
    }
    if (c == '\\') {
      if (i + 1 == command.size()) return std::nullopt;
      Word& w = text();
      w.quotedAnywhere = true;
      if (command[++i] != '\n') w.text += command[i];
      continue;
    }
    if (kActive.find(c) != std::string_view::npos) return std::nullopt;
    if (startsWord && (c == '#' || c == '~')) return std::nullopt;
    Word& w = text();
    if (!w.quotedAnywhere) w.unquotedPrefix = w.text.size() + 1;
    w.text += c;
  }
  if (word) words.push_back(std::move(*word));
  return words;
}

// NAME=value whose name stood unquoted: the shell reads it as an assignment.
bool isAssignment(const Word& word) {
  const auto equals = word.text.find('=');
  return equals != std::string::npos && equals < word.unquotedPrefix && isName(std::string_view(word.text).substr(0, equals));
}

MailerCommand readCommand(std::string_view text) {
  MailerCommand command;
  command.text = std::string(text);
  const auto words = plainWords(text);
  if (!words || words->empty()) return command;
  std::size_t assignments = 0;
  while (assignments < words->size() && isAssignment((*words)[assignments])) ++assignments;
  if (assignments == words->size()) return command;
  const Word& program = (*words)[assignments];
  // A quoted empty program name is no program: the shell's own failure to
  // find it is the outcome the user's command has.
  if (program.text.empty()) return command;
  if (!program.quotedAnywhere && isShellWord(program.text)) return command;
  if (assignments > 0) command.words.push_back("env");
  for (const Word& word : *words) command.words.push_back(word.text);
  return command;
}

}  // namespace

std::vector<MailerCommand> mailerCommands(std::string_view mailer) {
  std::vector<MailerCommand> commands;
  while (true) {
    const auto colon = mailer.find(':');
    const std::string_view text = mailer.substr(0, colon);
    bool blank = true;
    for (const char c : text) blank = blank && isBlank(c);
    if (!blank) commands.push_back(readCommand(text));
    if (colon == std::string_view::npos) return commands;
    mailer.remove_prefix(colon + 1);
  }
}

std::vector<std::string> shellCommand(const MailerCommand& command, const std::string& uri) {
  return {"/bin/sh", "-c", command.text + " \"$1\"", "sh", uri};
}

}  // namespace mail
