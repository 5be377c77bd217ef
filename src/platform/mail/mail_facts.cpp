#include "platform/mail/mail_facts.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string_view>

#include "platform/home.h"
#include "platform/mail/desktop_entry.h"
#include "platform/run_program.h"

namespace platform::mail {
namespace {

bool isSet(const char* value) { return value != nullptr && *value != '\0'; }

}  // namespace

bool isGnomeLikeDesktop(const char* currentDesktop) {
  if (!isSet(currentDesktop)) return false;
  std::string_view rest = currentDesktop;
  while (true) {
    const auto colon = rest.find(':');
    const std::string_view name = rest.substr(0, colon);
    for (const std::string_view gnomeLike : {"GNOME", "GNOME-Flashback", "Unity", "Cinnamon", "X-Cinnamon", "MATE",
                                             "LXDE"}) {
      if (name == gnomeLike) return true;
    }
    if (colon == std::string_view::npos) return false;
    rest.remove_prefix(colon + 1);
  }
}

std::string desktopIdFromAnswer(const std::string& answer) {
  std::string_view line = std::string_view(answer).substr(0, answer.find('\n'));
  while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) line.remove_suffix(1);
  return std::string(line);
}

MailFacts gatherMailFacts() {
  MailFacts facts;
  struct stat sandboxInfo {};
  facts.sandboxed = ::lstat("/.flatpak-info", &sandboxInfo) == 0;
  if (facts.sandboxed) {
    // A Flatpak sandbox passes the desktop's name through; the portal
    // picks its backend by the same name.
    facts.portalBackend = portalBackendForDesktop(std::getenv("XDG_CURRENT_DESKTOP"));
    return facts;
  }
  facts.mailerSet = isSet(std::getenv("MAILER"));
  if (facts.mailerSet) return facts;
  facts.gnomeLike = isGnomeLikeDesktop(std::getenv("XDG_CURRENT_DESKTOP"));
  const auto answer = platform::runProgram({"xdg-mime", "query", "default", "x-scheme-handler/mailto"});
  if (answer.errorNumber != 0) return facts;
  facts.handlerId = desktopIdFromAnswer(answer.output);
  const std::vector<std::string> directories =
      dataDirectories(std::getenv("XDG_DATA_HOME"), std::getenv("XDG_DATA_DIRS"), homeDirectory().value_or(""));
  if (const auto entry = findDesktopEntry(directories, facts.handlerId)) {
    facts.exec = entry->exec;
    facts.terminal = entry->terminal;
  }
  return facts;
}

}  // namespace platform::mail
