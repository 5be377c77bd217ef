#include "scripting/command.h"

namespace scripting {

const Descriptor* CommandParameters::labelledParameter(std::string_view label) const {
  for (const auto& [name, value] : labelled) {
    if (name == label) return &value;
  }
  return nullptr;
}

CommandReply CommandReply::failure(std::int64_t number, std::string message) {
  return CommandReply{number, std::move(message), std::nullopt};
}

const Command* findCommand(const CommandTable& table, std::string_view name) {
  for (const Command& command : table) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

std::vector<std::string_view> commandWords(std::string_view name) {
  std::vector<std::string_view> words;
  while (!name.empty()) {
    const auto blank = name.find(' ');
    const std::string_view word = name.substr(0, blank);
    if (!word.empty()) words.push_back(word);
    if (blank == std::string_view::npos) break;
    name.remove_prefix(blank + 1);
  }
  return words;
}

}  // namespace scripting
