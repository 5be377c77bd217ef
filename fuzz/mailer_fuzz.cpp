// Feeds arbitrary MAILER values, with arbitrary drafts, to the reading of
// its commands and to the route decision: each command is read as plain
// words (a known client's own start, or the words with the URI) or left
// to the shell whole. Whatever it holds, every route and fallback hands the
// client the draft unchanged and nothing more, and carries no NUL.
//
// Input, cut at NUL bytes: switches, MAILER, subject, body, log path,
// recipient.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "mail/draft_route.h"
#include "mail/mailer_command.h"
#include "route_check.h"

namespace {

using fuzz_input::flag;
using fuzz_input::pieceOr;
using fuzz_input::require;

// MAILER's commands: each is text the user wrote, words only when a shell
// would take them as they stand, and a command needing the shell is run by
// the shell with the URI as its one positional parameter.
void checkCommands(const std::string& mailer) {
  for (const mail::MailerCommand& command : mail::mailerCommands(mailer)) {
    require(command.text.find_first_not_of(" \t\n") != std::string::npos);
    require(mailer.find(command.text) != std::string::npos);
    require(!route_check::holdsNul(command.words));
    if (!command.needsShell()) {
      require(!command.words.front().empty());
      continue;
    }
    const std::vector<std::string> shell = mail::shellCommand(command, "mailto:?subject=x");
    require(shell.size() == 5 && shell[0] == "/bin/sh" && shell[1] == "-c" && shell[4] == "mailto:?subject=x");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto pieces = fuzz_input::piecesAtNul(fuzz_input::bytesOf(data, size));
  const std::string& switches = pieces[0];

  mail::MailFacts facts;
  facts.mailer = pieceOr(pieces, 1);
  facts.privateChannel = flag(switches, 0);
  if (flag(switches, 1)) {
    // A default handler that MAILER, when set, goes before.
    facts.handlerId = "thunderbird.desktop";
    facts.exec = {{"thunderbird", false}, {"%u", true}};
  }
  const mail::Draft draft = route_check::madeUpDraft(pieceOr(pieces, 2), pieceOr(pieces, 3),
                                                     flag(switches, 2) ? pieceOr(pieces, 4) : "", pieceOr(pieces, 5));

  const mail::DraftRoute route = mail::decideRoute(facts, draft);
  route_check::requireSound(route, facts, draft);

  checkCommands(facts.mailer);
  return 0;
}
