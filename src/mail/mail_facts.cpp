#include "mail/mail_facts.h"

#include <sys/stat.h>

#include <utility>

#include "mail/flatpak_info.h"
#include "mail/mime_apps_files.h"
#include "mail/report_channel.h"
#include "platform/file_io.h"
#include "platform/program_search.h"

namespace mail {
namespace {

constexpr const char* kFlatpakInfoPath = "/.flatpak-info";

}  // namespace

MailFacts gatherMailFacts(const MailContext& context) {
  const auto variable = [&](std::string_view name) {
    return std::string(platform::environmentValue(context.environment, name).value_or(""));
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
    return facts;
  }
  facts.privateChannel = isPrivateRuntimeDirectory(context.runtimeDirectory.c_str());
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
    return std::string(platform::environmentValue(context.environment, name).value_or(""));
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
