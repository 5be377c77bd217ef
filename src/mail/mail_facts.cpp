#include "mail/mail_facts.h"

#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mail/mime_apps.h"
#include "mail/mime_apps_files.h"
#include "platform/file_io.h"
#include "platform/text.h"
#include "mail/report_channel.h"

namespace mail {
namespace {

bool isSet(const char* value) { return value != nullptr && *value != '\0'; }


}  // namespace

std::string userMailtoHandler(const char* home, const char* currentDesktop) {
  if (!isSet(home) || home[0] != '/') return "";
  const std::string configuration = std::string(home) + "/.config/";
  std::vector<std::string> lists;
  std::string_view desktops = isSet(currentDesktop) ? currentDesktop : "";
  // The first few names count, as when the rules are read outside.
  for (int names = 0; !desktops.empty() && names < 4; ++names) {
    const auto colon = desktops.find(':');
    const std::string_view name = desktops.substr(0, colon);
    if (!name.empty() && name.find('/') == std::string_view::npos) {
      lists.push_back(configuration + platform::foldAsciiCase(std::string(name)) + "-mimeapps.list");
    }
    desktops.remove_prefix(colon == std::string_view::npos ? desktops.size() : colon + 1);
  }
  lists.push_back(configuration + "mimeapps.list");
  constexpr std::size_t kMaxListSize = 1 << 20;
  for (const std::string& list : lists) {
    const auto text = platform::readWholeFile(list, kMaxListSize);
    if (!text) {
      struct stat there {};
      if (::lstat(list.c_str(), &there) == 0) return "";
      continue;
    }
    const auto ids = listedIds(*text, "Default Applications", "x-scheme-handler/mailto");
    if (!ids.empty()) return ids.front();
  }
  return "";
}

MailFacts gatherMailFacts() {
  MailFacts facts;
  struct stat sandboxInfo {};
  facts.sandboxed = ::lstat("/.flatpak-info", &sandboxInfo) == 0;
  if (facts.sandboxed) {
    // A Flatpak sandbox passes the desktop's name through; the portal
    // picks its backend by the same name.
    facts.portalBackend = portalBackendForDesktop(std::getenv("XDG_CURRENT_DESKTOP"));
    if (facts.portalBackend == PortalBackend::Gtk) {
      facts.userMailtoHandler = userMailtoHandler(std::getenv("HOME"), std::getenv("XDG_CURRENT_DESKTOP"));
    }
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
