#include "mail/mail_context.h"

#include <utility>

#include "platform/paths.h"
#include "platform/program_search.h"
#include "platform/timer.h"

namespace mail {

Launcher systemLauncher(std::vector<std::string> environment) {
  return {
      [environment](const std::vector<std::string>& command, std::chrono::milliseconds wait,
                    platform::AtDeadline atDeadline, std::string_view input) {
        return platform::runProgram(command, environment, wait, atDeadline, input);
      },
      [environment](const std::vector<std::string>& command) { return platform::startProgram(command, environment); },
      [](std::chrono::milliseconds grace) { return platform::startTimer(grace); },
  };
}

MailContext mailContext(std::vector<std::string> environment, std::string home, std::string_view helperDirectory) {
  MailContext context;
  context.runtimeDirectory = platform::environmentValue(environment, "XDG_RUNTIME_DIR").value_or("");
  context.launch = systemLauncher(environment);
  context.environment = std::move(environment);
  context.home = std::move(home);
  context.portalHelper = platform::appendingPathComponent(helperDirectory, kPortalHelperName);
  context.terminalHelper = platform::appendingPathComponent(helperDirectory, kTerminalHelperName);
  context.flatpakHelper = platform::appendingPathComponent(helperDirectory, kFlatpakHelperName);
  context.desktopHelper = platform::appendingPathComponent(helperDirectory, kDesktopHelperName);
  return context;
}

}  // namespace mail
