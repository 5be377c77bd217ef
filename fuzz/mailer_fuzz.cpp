// Feeds arbitrary MAILER values, with arbitrary drafts, to the route
// decision: the command is read as plain words naming a known client, or
// left to xdg-email whole. Whatever it holds, the route starts a word of
// MAILER or xdg-email, hands the client the draft unchanged and nothing
// more, and carries no NUL.
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
#include "route_check.h"

namespace {

using fuzz_input::flag;
using fuzz_input::pieceOr;
using fuzz_input::require;

// Every word of MAILER, of any of its commands.
std::vector<std::string> wordsOf(const std::string& command) {
  std::vector<std::string> words;
  std::size_t i = 0;
  while (i < command.size()) {
    const std::size_t start = command.find_first_not_of(" \t\n:", i);
    if (start == std::string::npos) break;
    const std::size_t end = std::min(command.find_first_of(" \t\n:", start), command.size());
    words.push_back(command.substr(start, end - start));
    i = end;
  }
  return words;
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
    facts.exec = {"thunderbird", "%u"};
  }
  const mail::Draft draft = route_check::madeUpDraft(pieceOr(pieces, 2), pieceOr(pieces, 3),
                                                     flag(switches, 2) ? pieceOr(pieces, 4) : "", pieceOr(pieces, 5));

  const mail::DraftRoute route = mail::decideRoute(facts, draft);
  route_check::requireSound(route, facts, draft);

  if (!facts.mailer.empty() && route.kind != mail::DraftRoute::Kind::Refuse) {
    // The program started is xdg-email or one MAILER names; so is the
    // launcher, unless the desktop's terminal stands in for one.
    const std::vector<std::string> words = wordsOf(facts.mailer);
    const auto named = [&](const std::string& word) {
      return std::find(words.begin(), words.end(), word) != words.end();
    };
    require(route.argv.front() == "xdg-email" || named(route.argv.front()));
    if (!route.launcher.empty()) require(named(route.launcher.front()) || route.launcher.front() == "x-terminal-emulator");
  }
  return 0;
}
