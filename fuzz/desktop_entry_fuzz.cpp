// Feeds arbitrary desktop entries to the reader of their Exec and Terminal
// keys, and what it reads, as the default mail handler's entry, to the
// route decision: a route decided from an entry starts a program of it
// with the draft unchanged, carries none of its field codes and no NUL.
// The data directories and an entry's candidate paths are fed arbitrary
// environment values and desktop ids.
//
// Input: one byte of switches, one byte choosing the handler's desktop id,
// then the entry's text; or, with the top switch set, NUL-separated
// XDG_DATA_HOME, XDG_DATA_DIRS, HOME and a desktop id.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "mail/desktop_entry.h"
#include "mail/draft_route.h"
#include "mail/exec_line.h"
#include "route_check.h"

namespace {

using fuzz_input::flag;
using fuzz_input::pieceOr;
using fuzz_input::require;

// A desktop id of each known client, and one of no known client.
constexpr std::array<std::string_view, 9> kHandlerIds = {
    "thunderbird.desktop",        "org.gnome.Evolution.desktop", "claws-mail.desktop",
    "sylpheed.desktop",           "org.desktop.Balsa.desktop",   "neomutt.desktop",
    "org.gnome.Geary.desktop",    "org.kde.kmail2.desktop",      "firefox-esr.desktop"};

// Whether every '%' of the entry stands in an Exec line, none doubled: then
// no Name, Icon or literal percent can give a word that reads like a field
// code, and any such word in a route would be one left over.
bool percentsOnlyInExec(std::string_view text) {
  if (text.find("%%") != std::string_view::npos) return false;
  while (!text.empty()) {
    const auto end = text.find('\n');
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (line.find('%') != std::string_view::npos && !line.starts_with("Exec")) return false;
  }
  return true;
}

void checkEntry(std::string_view switches, unsigned char handler, std::string_view text) {
  const auto entry = mail::parseDesktopEntry(text, "/usr/share/applications/mail.desktop");
  if (!entry) return;
  const std::vector<std::string> words = mail::execTexts(entry->exec);
  require(!words.empty() && !words.front().empty() && !route_check::holdsNul(words));
  // At most one target, and never the program.
  require(!entry->exec.front().target);
  require(std::count_if(entry->exec.begin(), entry->exec.end(), [](const mail::ExecWord& word) { return word.target; }) <= 1);

  mail::MailFacts facts;
  facts.handlerId = std::string(kHandlerIds[handler % kHandlerIds.size()]);
  facts.exec = entry->exec;
  facts.terminal = entry->terminal;
  facts.privateChannel = flag(switches, 0);
  const mail::Draft draft = route_check::madeUpDraft("Support Request - Quorvel 1 % ' , \"", "body\n&x=1",
                                                     flag(switches, 1) ? "/home/u s/log,'%.txt" : "",
                                                     flag(switches, 2) ? "support@example.org" : "");
  const mail::DraftRoute route = mail::decideRoute(facts, draft);
  route_check::requireSound(route, facts, draft);
  if (route.kind == mail::DraftRoute::Kind::Refuse) return;
  if (percentsOnlyInExec(text)) {
    require(!route_check::holdsFieldCode(route.argv) && !route_check::holdsFieldCode(route.launcher) &&
            !route_check::holdsFieldCode(route.startAloneFirst));
  }
  // What starts is the entry's own program, or the desktop's terminal for it.
  const std::string& started = route.kind == mail::DraftRoute::Kind::Watched ? route.launcher.front() : route.argv.front();
  require(started == words.front() || started == "x-terminal-emulator");
}

void checkPlaces(const std::vector<std::string>& pieces) {
  const std::string& dataHome = pieceOr(pieces, 0);
  const std::string& dataDirs = pieceOr(pieces, 1);
  const std::string& home = pieceOr(pieces, 2);
  const std::string& desktopId = pieceOr(pieces, 3);
  const auto directories = mail::dataDirectories(dataHome.c_str(), dataDirs.c_str(), home);
  // Relative directories are ignored; at most one per colon-separated entry and the home's.
  require(directories.size() <= dataDirs.size() + 3);
  for (const std::string& directory : directories) require(directory.starts_with('/'));

  for (const std::string& directory : directories) {
    const auto candidates = mail::entryCandidates(directory + "/applications", desktopId);
    // The id itself, and one more for each '-' in it, each inside the directory.
    require(candidates.size() <= desktopId.size() + 1);
    for (const std::string& candidate : candidates) {
      // Inside the applications directory: the id with at most a '-' read
      // as '/', never a step above it.
      const std::string prefix = directory + "/applications/";
      require(candidate.starts_with(prefix));
      const std::string_view name = std::string_view(candidate).substr(prefix.size());
      require(name.size() == desktopId.size());
      int depth = 0;
      std::string_view rest = name;
      while (true) {
        const auto slash = rest.find('/');
        const std::string_view component = rest.substr(0, slash);
        if (component == "..") --depth;
        else if (!component.empty() && component != ".") ++depth;
        require(depth >= 0);
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::string_view switches = fuzz_input::bytesOf(data, 1);
  if (flag(switches, 7)) {
    checkPlaces(fuzz_input::piecesAtNul(fuzz_input::bytesOf(data + 1, size - 1)));
  } else {
    checkEntry(switches, data[1], fuzz_input::bytesOf(data + 2, size - 2));
  }
  return 0;
}
