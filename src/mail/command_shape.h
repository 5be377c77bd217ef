// Which program a command finally runs: a desktop entry's Exec line or a
// MAILER command may start the mail client through `env`, `flatpak run` or
// a terminal, and only the program at the end of that chain says which
// client takes the draft and how.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "mail/known_clients.h"

namespace mail {

struct CommandShape {
  // The word naming the program the command finally runs; for a Flatpak
  // application, its application id. The words before it start it.
  std::size_t program = 0;
  bool inTerminal = false;  // a terminal among the words before it runs it
  bool flatpak = false;     // it runs as a Flatpak application, in its sandbox
  Client client = Client::Unknown;
};

// The shape of `words`, looking through, in any order:
// - `env` with its options and NAME=value assignments;
// - `flatpak run` with its options, up to the application id, and the
//   wrappers Flatpak exports under an application id's name;
// - a terminal known to take the command to run as its remaining words
//   after an option (`xterm -e`, `gnome-terminal --`, `xfce4-terminal -x`,
//   ...); the option is the first word after the terminal that is one of its
//   own command options.
// Where the chain ends without a program (`env` alone, a terminal without a
// command), the first word is the program, and no client is known.
CommandShape commandShape(const std::vector<std::string>& words);

}  // namespace mail
