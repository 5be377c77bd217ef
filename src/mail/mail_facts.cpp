#include "mail/mail_facts.h"

#include <sys/stat.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mail/flatpak_info.h"
#include "mail/mime_apps.h"
#include "mail/mime_apps_files.h"
#include "mail/program_search.h"
#include "mail/report_channel.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace mail {
namespace {

constexpr const char* kFlatpakInfoPath = "/.flatpak-info";

}  // namespace

std::string userMailtoHandler(std::string_view home, std::string_view currentDesktop) {
  if (!home.starts_with('/')) return "";
  const std::string configuration = std::string(home) + "/.config/";
  std::vector<std::string> lists;
  // The first few names count, as when the rules are read outside.
  for (int names = 0; !currentDesktop.empty() && names < 4; ++names) {
    const auto colon = currentDesktop.find(':');
    const std::string_view name = currentDesktop.substr(0, colon);
    if (!name.empty() && name.find('/') == std::string_view::npos) {
      lists.push_back(configuration + platform::foldAsciiCase(std::string(name)) + "-mimeapps.list");
    }
    currentDesktop.remove_prefix(colon == std::string_view::npos ? currentDesktop.size() : colon + 1);
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

MailFacts gatherMailFacts(const MailContext& context) {
  const auto variable = [&](std::string_view name) {
    return std::string(environmentValue(context.environment, name).value_or(""));
  };
  MailFacts facts;
  struct stat sandboxInfo {};
  facts.sandboxed = ::lstat(kFlatpakInfoPath, &sandboxInfo) == 0;
  if (facts.sandboxed) {
    // Unreadable, or larger than any real one: no way to the host.
    const FlatpakInfo info = readFlatpakInfo(platform::readWholeFile(kFlatpakInfoPath, kMaxFlatpakInfoSize).value_or(""));
    if (info.mayTalkToFlatpakService && !context.desktopHelper.empty()) {
      facts.hostDesktopHelper = hostPathOfAppFile(context.desktopHelper, info.appPath);
    }
    // A Flatpak sandbox passes the desktop's name through; the portal
    // picks its backend by the same name.
    facts.portalBackend = portalBackendForDesktop(variable("XDG_CURRENT_DESKTOP").c_str());
    if (facts.portalBackend == PortalBackend::Gtk) {
      facts.userMailtoHandler = userMailtoHandler(context.home, variable("XDG_CURRENT_DESKTOP"));
    }
    return facts;
  }
  facts.privateChannel = isPrivateRuntimeDirectory(context.runtimeDirectory.c_str());
  if (context.textsFile.directory != nullptr) facts.textsFile = context.textsFile.path();
  facts.mailer = variable("MAILER");
  if (!facts.mailer.empty()) return facts;
  const XdgEnvironment xdg{context.home,           variable("XDG_CONFIG_HOME"), variable("XDG_CONFIG_DIRS"),
                           variable("XDG_DATA_HOME"), variable("XDG_DATA_DIRS"),   variable("XDG_CURRENT_DESKTOP"),
                           variable("PATH")};
  if (auto handler = findDefaultApplication(xdg, "x-scheme-handler/mailto")) {
    facts.handlerId = std::move(handler->desktopId);
    facts.exec = std::move(handler->entry.exec);
    facts.terminal = handler->entry.terminal;
  }
  return facts;
}

ClientContext gatherClientContext(const MailContext& context) {
  const auto variable = [&](std::string_view name) {
    return std::string(environmentValue(context.environment, name).value_or(""));
  };
  // An XDG base directory: the variable when it holds an absolute path,
  // else the default under the home.
  const auto baseDirectory = [&](std::string_view name, std::string_view fallback) {
    std::string value = variable(name);
    if (value.starts_with('/')) return value;
    return context.home.empty() ? std::string() : context.home + std::string(fallback);
  };
  ClientContext client;
  client.job.home = context.home;
  client.job.session = {variable("DBUS_SESSION_BUS_ADDRESS"), variable("DISPLAY"), variable("WAYLAND_DISPLAY")};
  client.job.legacyProfiles = !variable("MOZ_LEGACY_PROFILES").empty();
  client.bases = {context.home, baseDirectory("XDG_CONFIG_HOME", "/.config"),
                  baseDirectory("XDG_DATA_HOME", "/.local/share")};
  return client;
}

}  // namespace mail
