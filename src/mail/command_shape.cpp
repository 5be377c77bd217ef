#include "mail/command_shape.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace mail {
namespace {

struct Terminal {
  std::string_view program;
  // The options after which the remaining words are the command and its
  // arguments. An option that takes the command as one string to split
  // (xfce4-terminal's -e, for one) is not among them.
  std::array<std::string_view, 3> commandOptions;
};

constexpr std::array<Terminal, 17> kTerminals{{
    {"x-terminal-emulator", {"-e"}},
    {"xterm", {"-e"}},
    {"uxterm", {"-e"}},
    {"lxterm", {"-e"}},
    {"koi8rxterm", {"-e"}},
    {"urxvt", {"-e"}},
    {"urxvtc", {"-e"}},
    {"rxvt", {"-e"}},
    {"rxvt-unicode", {"-e"}},
    {"st", {"-e"}},
    {"alacritty", {"-e", "--command"}},
    {"konsole", {"-e"}},
    {"gnome-terminal", {"--", "-x", "--execute"}},
    {"mate-terminal", {"-x", "--execute"}},
    {"xfce4-terminal", {"-x", "--execute"}},
    {"terminator", {"-x", "--execute"}},
    {"sakura", {"-x", "--execute"}},
}};

const Terminal* terminalNamed(std::string_view program) {
  const std::string_view name = baseName(program);
  for (const Terminal& terminal : kTerminals) {
    if (terminal.program == name) return &terminal;
  }
  return nullptr;
}

// `flatpak run`'s options that take their value as the next word.
constexpr std::array<std::string_view, 24> kFlatpakValueOptions{
    "--arch",     "--branch",       "--command",     "--cwd",          "--runtime",     "--runtime-version",
    "--commit",   "--runtime-commit", "--filesystem", "--nofilesystem", "--env",         "--unset-env",
    "--share",    "--unshare",      "--socket",      "--nosocket",     "--device",      "--nodevice",
    "--allow",    "--disallow",     "--own-name",    "--talk-name",    "--system-talk-name", "--persist"};

bool isAssignment(std::string_view word) {
  const auto equals = word.find('=');
  return equals != std::string_view::npos && equals > 0;
}

// The index past `env`'s options and assignments, starting after `env`;
// words.size() when `env` takes a form not looked through (-S splits a
// string of its own).
std::size_t pastEnv(const std::vector<std::string>& words, std::size_t i) {
  while (i < words.size()) {
    const std::string& word = words[i];
    if (word == "--") return i + 1;
    if (word == "-u" || word == "-C" || word == "--unset" || word == "--chdir") {
      i += 2;
      continue;
    }
    if (word == "-S" || word.starts_with("--split-string") || (word.starts_with("-S") && word.size() > 2)) {
      return words.size();
    }
    if (word.starts_with('-') || isAssignment(word)) {
      ++i;
      continue;
    }
    return i;
  }
  return i;
}

// The index of the application id of `flatpak run`, starting after `run`.
std::size_t flatpakApplication(const std::vector<std::string>& words, std::size_t i) {
  while (i < words.size() && words[i].starts_with('-')) {
    const std::string& option = words[i];
    const bool takesNext = std::find(kFlatpakValueOptions.begin(), kFlatpakValueOptions.end(), option) !=
                           kFlatpakValueOptions.end();
    i += takesNext ? 2 : 1;
  }
  return i;
}

}  // namespace

CommandShape commandShape(const std::vector<std::string>& words) {
  CommandShape shape;
  std::size_t i = 0;
  while (i < words.size()) {
    const std::string_view name = baseName(words[i]);
    if (name == "env") {
      i = pastEnv(words, i + 1);
      continue;
    }
    if (name == "flatpak" && i + 1 < words.size() && words[i + 1] == "run") {
      i = flatpakApplication(words, i + 2);
      if (i >= words.size()) break;
      shape.program = i;
      shape.flatpak = true;
      shape.client = clientForFlatpakId(words[i]);
      return shape;
    }
    if (const Client client = clientForFlatpakId(words[i]); client != Client::Unknown) {
      shape.program = i;
      shape.flatpak = true;
      shape.client = client;
      return shape;
    }
    if (const Terminal* terminal = terminalNamed(words[i])) {
      std::size_t option = i + 1;
      while (option < words.size() && (words[option].empty() ||
             std::find(terminal->commandOptions.begin(), terminal->commandOptions.end(), words[option]) ==
                 terminal->commandOptions.end())) {
        ++option;
      }
      if (option >= words.size()) {
        // A terminal with no command to run is the program itself.
        shape.program = i;
        return shape;
      }
      shape.inTerminal = true;
      i = option + 1;
      continue;
    }
    shape.program = i;
    shape.client = clientForProgram(words[i]);
    return shape;
  }
  return CommandShape{};
}

}  // namespace mail
