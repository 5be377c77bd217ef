#include "mail/mail_facts.h"

#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "mail/mime_apps_files.h"
#include "mail/report_channel.h"

namespace mail {
namespace {

bool isSet(const char* value) { return value != nullptr && *value != '\0'; }

}  // namespace

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
  facts.privateChannel = isPrivateRuntimeDirectory(std::getenv("XDG_RUNTIME_DIR"));
  if (const char* mailer = std::getenv("MAILER"); isSet(mailer)) {
    facts.mailer = mailer;
    return facts;
  }
  if (auto handler = findDefaultApplication(xdgEnvironmentOfProcess(), "x-scheme-handler/mailto")) {
    facts.handlerId = std::move(handler->desktopId);
    facts.exec = std::move(handler->entry.exec);
    facts.terminal = handler->entry.terminal;
  }
  return facts;
}

}  // namespace mail
