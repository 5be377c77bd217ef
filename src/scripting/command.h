// The commands a script may use beyond the language itself. The
// interpreter knows no application: whoever runs a script publishes its
// commands as a small table of names and handlers, and a script compiles
// against that table, so a command the table does not name is a syntax
// error rather than a call into something the caller never offered.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "scripting/descriptor.h"

namespace scripting {

// What a command was given: its direct parameter (the whole expression
// after its name) and the labelled parameters the script wrote.
struct CommandParameters {
  Descriptor direct;
  std::vector<std::pair<std::string, Descriptor>> labelled;

  // The parameter given under `label`, or null when the script gave none.
  const Descriptor* labelledParameter(std::string_view label) const;
};

// A command's answer: error number 0 with the command's value (none for a
// command that gives no value), or the error number and message the script
// sees as a raised error, which `try` can catch.
struct CommandReply {
  std::int64_t errorNumber = 0;
  std::string message;
  std::optional<Descriptor> value;

  static CommandReply failure(std::int64_t number, std::string message);
};

using CommandHandler = std::function<CommandReply(const CommandParameters&)>;

struct Command {
  // The command's words in lower case, one blank apart: "open mail draft".
  std::string name;
  // The labels of the parameters it takes after the direct one, in lower
  // case ("to"); each may be given once, in any order.
  std::vector<std::string> labels;
  CommandHandler handler;
};

using CommandTable = std::vector<Command>;

// The command named `name` in `table`, or null.
const Command* findCommand(const CommandTable& table, std::string_view name);

// The words of a command's name.
std::vector<std::string_view> commandWords(std::string_view name);

}  // namespace scripting
