#include "mail/mail_facts.h"

#include <sys/stat.h>

#include <cstdlib>
#include <utility>

#include "mail/mime_apps_files.h"
#include "mail/report_channel.h"

namespace mail {
namespace {

bool isSet(const char* value) { return value != nullptr && *value != '\0'; }

std::string fromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// An XDG base directory: the variable when it holds an absolute path,
// else the default under the home.
std::string baseDirectory(const char* name, const std::string& home, const char* fallback) {
  const std::string value = fromEnvironment(name);
  if (value.starts_with('/')) return value;
  return home.empty() ? std::string() : home + fallback;
}

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

ClientContext gatherClientContext() {
  ClientContext context;
  const std::string home = xdgEnvironmentOfProcess().home;
  context.job.home = home;
  context.job.session = {fromEnvironment("DBUS_SESSION_BUS_ADDRESS"), fromEnvironment("DISPLAY"),
                         fromEnvironment("WAYLAND_DISPLAY")};
  context.job.legacyProfiles = isSet(std::getenv("MOZ_LEGACY_PROFILES"));
  context.bases = {home, baseDirectory("XDG_CONFIG_HOME", home, "/.config"),
                   baseDirectory("XDG_DATA_HOME", home, "/.local/share")};
  return context;
}

}  // namespace mail
