// The mail service's seam to the system: programs started and graces timed
// for real. Apart from the rest of the context, so that a host that only
// asks which route a job would take links nothing that starts one.
#include "mail/mail_context.h"

#include <utility>

#include "mail/run_program.h"
#include "platform/timer.h"

namespace mail {

Launcher systemLauncher(std::vector<std::string> environment) {
  return {
      [environment](const std::vector<std::string>& command, std::chrono::milliseconds wait,
                    platform::AtDeadline atDeadline, std::string_view input) {
        return runProgram(command, environment, wait, atDeadline, input);
      },
      [environment](const std::vector<std::string>& command) { return startProgram(command, environment); },
      [](std::chrono::milliseconds grace) { return platform::startTimer(grace); },
  };
}

MailContext mailContext(std::vector<std::string> environment, std::string home, std::string_view helperDirectory) {
  MailContext context = routeContext(std::move(environment), std::move(home), helperDirectory);
  context.launch = systemLauncher(context.environment);
  return context;
}

}  // namespace mail
