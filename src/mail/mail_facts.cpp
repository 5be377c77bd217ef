#include "mail/mail_facts.h"

#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "mail/flatpak_info.h"
#include "mail/mime_apps_files.h"
#include "platform/file_io.h"
#include "mail/report_channel.h"

namespace mail {
namespace {

constexpr const char* kFlatpakInfoPath = "/.flatpak-info";

bool isSet(const char* value) { return value != nullptr && *value != '\0'; }

}  // namespace

MailFacts gatherMailFacts(const std::string& desktopHelper) {
  MailFacts facts;
  struct stat sandboxInfo {};
  facts.sandboxed = ::lstat(kFlatpakInfoPath, &sandboxInfo) == 0;
  if (facts.sandboxed) {
    // Unreadable, or larger than any real one: no way to the host.
    const FlatpakInfo info = readFlatpakInfo(platform::readWholeFile(kFlatpakInfoPath, kMaxFlatpakInfoSize).value_or(""));
    if (info.mayTalkToFlatpakService && !desktopHelper.empty()) {
      facts.hostDesktopHelper = hostPathOfAppFile(desktopHelper, info.appPath);
    }
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
