// What the mail service takes from the process, fetched once at the top of
// a job and handed down to the gathering of facts and to the routes, and
// the one seam through which it starts programs.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/portal_answer.h"
#include "platform/run_program.h"

namespace mail {

// How the service starts programs, every client and helper: runProgram and
// startProgram in the context's environment (systemLauncher), or a test's
// stand-ins that watch what a route starts without starting anything.
struct Launcher {
  // Starts a program and waits at most `wait` for its end; one still
  // running then is left running or ended as `atDeadline` says.
  std::function<platform::ProgramRun(const std::vector<std::string>& command, std::chrono::milliseconds wait,
                                     platform::AtDeadline atDeadline)>
      run;
  // Starts a program left to run its course (a terminal that is watched
  // beside the report channel while it runs).
  std::function<platform::ProgramStart(const std::vector<std::string>& command)> start;
};

Launcher systemLauncher(std::vector<std::string> environment);

struct MailContext {
  // The environment as started programs get it (handedOnEnvironment).
  std::vector<std::string> environment;
  std::string home;              // the job's home, where the user's settings lie
  std::string portalHelper;      // asks the desktop portal from a sandbox
  std::string terminalHelper;    // starts a client in a terminal and reports its end
  std::string runtimeDirectory;  // XDG_RUNTIME_DIR; "" when unset
  // How long a started client has before it counts as opened (one started
  // cold stays in the foreground), and `run program` waits.
  std::chrono::milliseconds grace = platform::kProgramGraceTime;
  // What the portal helper is given for the whole exchange.
  std::chrono::milliseconds portalDeadline = kPortalDeadline;
  Launcher launch;
};

// The portal helper's name beside the executable.
inline constexpr std::string_view kPortalHelperName = "support-draft-portal";
// The client helper's: it starts a client inside a terminal and reports to
// the program how it ended.
inline constexpr std::string_view kTerminalHelperName = "support-draft-terminal";

// The context for `environment` (handed on as it is), `home`, and the
// bundle's helpers in `helperDirectory`, with the shipped times and the
// system's launcher.
MailContext mailContext(std::vector<std::string> environment, std::string home, std::string_view helperDirectory);

}  // namespace mail
