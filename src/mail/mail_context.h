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
#include "mail/run_program.h"
#include "platform/directory.h"
#include "platform/unique_fd.h"

namespace mail {

// How the service starts programs, every client and helper, and times a
// started client's grace: runProgram, startProgram in the context's
// environment and the system's timer (systemLauncher), or a test's
// stand-ins that watch what a route starts without starting anything.
struct Launcher {
  // Starts a program and waits at most `wait` for its end; one still
  // running then is left running or ended as `atDeadline` says. `input`,
  // when not empty, is its standard input (runProgram).
  std::function<ProgramRun(const std::vector<std::string>& command, std::chrono::milliseconds wait,
                                     platform::AtDeadline atDeadline, std::string_view input)>
      run;
  // Starts a program left to run its course (a terminal that is watched
  // beside the report channel while it runs).
  std::function<ProgramStart(const std::vector<std::string>& command)> start;
  // Starts a client's grace: a descriptor that becomes readable once it is
  // over (the system's timer, or a test's gate opened once it has seen
  // what the grace must hold), or none when no timer can be had.
  std::function<platform::UniqueFd(std::chrono::milliseconds grace)> timer;
};

Launcher systemLauncher(std::vector<std::string> environment);

// How long the host route may take, from connecting to the session bus to
// the host command's end: every start of a desktop route (at most three of
// the grace time, for a client that crashes cold) with room to spare, and
// inside the host command's default time bound of 30 seconds with the
// caller's backstop.
inline constexpr std::chrono::milliseconds kHostRouteDeadline{25000};

inline constexpr std::chrono::milliseconds kBusyProbeTime{3000};

struct MailContext {
  // The environment as started programs get it (handedOnEnvironment).
  std::vector<std::string> environment;
  std::string home;              // the job's home, where the user's settings lie
  std::string portalHelper;      // asks the desktop portal from a sandbox
  std::string terminalHelper;    // starts a client in a terminal and reports its end
  // Inside a Flatpak sandbox allowed the Flatpak service: the helper that
  // asks it to run a command on the host, and the one it runs there (by
  // its path inside the sandbox), which takes the desktop route.
  std::string flatpakHelper;
  std::string desktopHelper;
  std::string runtimeDirectory;  // XDG_RUNTIME_DIR; "" when unset
  // Where a client that reads the draft's texts from a file gets them: a
  // name in the job's own directory, the user's alone and kept as long as
  // the job's log. No directory: there is none, and the texts go in the
  // client's arguments (a host asking for a route, the desktop helper).
  platform::FileLocation textsFile;
  // How long a started client has before it counts as opened (one started
  // cold stays in the foreground), and `run program` waits.
  std::chrono::milliseconds grace = kProgramGraceTime;
  // How long a running client has to answer the query that says it is
  // free to take a request (DraftRoute::busyProbe): an idle Claws Mail
  // answered in 0.15-0.3 s on a loaded machine.
  std::chrono::milliseconds busyProbeTime{kBusyProbeTime};
  // What the portal helper is given for the whole exchange.
  std::chrono::milliseconds portalDeadline = kPortalDeadline;
  // What the Flatpak helper is given for the call and the command's end.
  std::chrono::milliseconds hostDeadline = kHostRouteDeadline;
  Launcher launch;
};

// The portal helper's name beside the executable.
inline constexpr std::string_view kPortalHelperName = "support-draft-portal";
// The client helper's: it starts a client inside a terminal and reports to
// the program how it ended.
inline constexpr std::string_view kTerminalHelperName = "support-draft-terminal";
// The helpers of a sandbox allowed the Flatpak service: the one that asks
// the service (D-Bus), and the one it runs on the host.
inline constexpr std::string_view kFlatpakHelperName = "support-draft-flatpak";
inline constexpr std::string_view kDesktopHelperName = "support-draft-desktop";

// The context for `environment` (handed on as it is), `home`, and the
// bundle's helpers in `helperDirectory`, with the shipped times and the
// system's launcher.
MailContext mailContext(std::vector<std::string> environment, std::string home, std::string_view helperDirectory);

// The same context with no launcher, for deciding a route without starting
// anything (route_plan.h): a host asking which route its job would take.
MailContext routeContext(std::vector<std::string> environment, std::string home, std::string_view helperDirectory);

}  // namespace mail
