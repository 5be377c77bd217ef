#include "mail/mail_context.h"

#include <utility>

#include "mail/program_search.h"
#include "platform/paths.h"

namespace mail {

MailContext routeContext(std::vector<std::string> environment, std::string home, std::string_view helperDirectory) {
  MailContext context;
  context.runtimeDirectory = environmentValue(environment, "XDG_RUNTIME_DIR").value_or("");
  context.environment = std::move(environment);
  context.home = std::move(home);
  context.portalHelper = platform::appendingPathComponent(helperDirectory, kPortalHelperName);
  context.terminalHelper = platform::appendingPathComponent(helperDirectory, kTerminalHelperName);
  context.flatpakHelper = platform::appendingPathComponent(helperDirectory, kFlatpakHelperName);
  context.desktopHelper = platform::appendingPathComponent(helperDirectory, kDesktopHelperName);
  return context;
}

}  // namespace mail
