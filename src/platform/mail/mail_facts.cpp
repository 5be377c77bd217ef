#include "platform/mail/mail_facts.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string_view>
#include <utility>

#include "platform/mail/mime_apps_files.h"

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
  if (auto handler = findDefaultApplication(xdgEnvironmentOfProcess(), "x-scheme-handler/mailto")) {
    facts.handlerId = std::move(handler->desktopId);
    facts.exec = std::move(handler->entry.exec);
    facts.terminal = handler->entry.terminal;
  }
  return facts;
}

}  // namespace platform::mail
