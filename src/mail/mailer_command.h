// MAILER, read as the desktop's own mail hand-off reads it: a ':'-separated
// list of commands, each of which the shell would run with the mailto: URI
// as one more word; the first that succeeds has the draft.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mail {

struct MailerCommand {
  // The command as the user wrote it.
  std::string text;
  // Its words, when it is plain words a shell would take as they stand
  // (blanks, quotes and backslashes undone; leading NAME=value assignments
  // given to `env`). Empty when it holds anything else a shell would
  // expand or act on ($, `, globs, operators, redirections, a keyword or
  // builtin as its first word): then only a shell can run it.
  std::vector<std::string> words;
  bool needsShell() const { return words.empty(); }
};

// The commands of MAILER in order, those that are empty or only blanks
// left out (they cannot succeed: the shell would run the URI itself).
std::vector<MailerCommand> mailerCommands(std::string_view mailer);

// The command that runs a command needing the shell with `uri`, as the
// hand-off's own `eval "$command" '"$1"'` does: /bin/sh -c '<text> "$1"' sh <uri>.
std::vector<std::string> shellCommand(const MailerCommand& command, const std::string& uri);

}  // namespace mail
