#include "platform/mail/mail_service.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/bundle.h"
#include "platform/child_process.h"
#include "platform/mail/mail_facts.h"
#include "platform/mail/report_channel.h"
#include "platform/paths.h"
#include "platform/run_program.h"
#include "platform/scripting/errors.h"
#include "platform/program_search.h"

extern char** environ;

namespace platform::mail {
namespace {

using platform::handedOnEnvironment;
using platform::scripting::kErrorLaunchFailed;
using platform::scripting::kErrorPermissionDenied;
using platform::scripting::kErrorProgramNotFound;
using platform::programCandidates;
using platform::searchPathOf;

// Where the bundle's helpers lie: beside the executable in Contents/MacOS.
std::string helperPath(std::string_view name) {
  const platform::Bundle& bundle = platform::mainBundle();
  const std::string dir =
      bundle.bundlePath.empty() ? bundle.resourceDirectory
                                : appendingPathComponent(appendingPathComponent(bundle.bundlePath, "Contents"), "MacOS");
  return appendingPathComponent(dir, std::string(name));
}

constexpr std::int64_t kErrorKilledBySignal = -128;

DraftOutcome started(const DraftRoute& route) {
  platform::ProgramRun run = platform::runProgram(route.argv);
  if (run.errorNumber == kErrorKilledBySignal && !route.startAloneAfterCrash.empty()) {
    // The client left running by this start (or already ended by another
    // fault) takes the request from a second process.
    run = platform::runProgram(route.startAloneAfterCrash);
    if (run.errorNumber == 0) run = platform::runProgram(route.argv);
  }
  if (run.errorNumber == 0) return {};
  if (route.verdict == Verdict::ForwarderMayExit255 && run.errorNumber == kForwarderExitStatus) return {};
  // run program never reports a missing permission: a client that cannot
  // be executed is a failed start, so only the portal's refusal below is one.
  return {run.errorNumber, std::move(run.message)};
}

DraftOutcome askPortal(const Draft& draft, const std::string& helper) {
  std::vector<std::string> command = {helper, draft.subject, draft.body};
  if (!draft.attachment.empty()) command.push_back(draft.attachment);
  const platform::ProgramRun run = platform::runProgram(command);
  switch (run.errorNumber) {
    case kPortalOpened:
      return {};
    case kPortalAccessDenied:
      return {kErrorPermissionDenied, "The desktop portal does not allow this program to compose e-mail."};
    case kPortalCancelled:
      return {run.errorNumber, "The draft was cancelled."};
    default:
      return {run.errorNumber, "The desktop portal did not open the draft. " + run.message};
  }
}

// Why a watched client is no open draft, as the script error it raises.
DraftOutcome watchedFailure(const ReportChannel::Heard& heard, const std::string& launcher) {
  if (heard.launcherFailure) {
    const int status = heard.launcherFailure->waitStatus;
    if (WIFSIGNALED(status)) {
      return {kErrorKilledBySignal, "“" + launcher + "” was ended by signal " + std::to_string(WTERMSIG(status)) + "."};
    }
    return {WEXITSTATUS(status), "“" + launcher + "” ended with status " + std::to_string(WEXITSTATUS(status)) + "."};
  }
  const ClientReport& report = heard.report;
  switch (report.state) {
    case ClientReport::State::Ended:
      if (report.end.signalled) {
        return {kErrorKilledBySignal, "The mail client was ended by signal " + std::to_string(report.end.number) + "."};
      }
      return {report.end.number, "The mail client ended with status " + std::to_string(report.end.number) + "."};
    case ClientReport::State::Unstartable:
      return {kErrorLaunchFailed, "The mail client could not be started in the terminal."};
    case ClientReport::State::Silent:
      return {kErrorLaunchFailed, "The terminal did not start the mail client in time."};
    case ClientReport::State::Malformed:
    case ClientReport::State::Lost:
    case ClientReport::State::Started:
      break;
  }
  return {kErrorLaunchFailed, "The mail client's start could not be followed to its end."};
}

// The environment a started program gets, as run program hands it on.
std::vector<std::string> startedEnvironment() {
  std::vector<std::string_view> environment;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) environment.emplace_back(*entry);
  return handedOnEnvironment(environment);
}

}  // namespace

DraftOutcome carryOutWatched(const DraftRoute& route, const std::string& terminalHelper,
                             const char* runtimeDirectory, std::chrono::milliseconds grace) {
#ifdef SUPPORT_DRAFT_NO_RUN_PROGRAM
  // The fuzz build runs hostile scripts: like run program, it starts nothing.
  return {kErrorLaunchFailed, "This build does not run programs."};
#endif
  if (route.launcher.empty() || route.argv.empty()) return {kErrorLaunchFailed, "No command to start."};
  std::optional<ReportChannel> channel = ReportChannel::open(runtimeDirectory);
  if (!channel) {
    return {kErrorNoDraftRoute, "No private place in XDG_RUNTIME_DIR to learn whether the mail client opened the draft."};
  }
  std::vector<std::string> command = route.launcher;
  command.push_back(terminalHelper);
  command.push_back(channel->address());
  command.insert(command.end(), route.argv.begin(), route.argv.end());
  ChildSpec spec;
  spec.environment = startedEnvironment();
  std::vector<std::string_view> names(spec.environment->begin(), spec.environment->end());
  spec.paths = programCandidates(command.front(), searchPathOf(names));
  spec.arguments = command;
  const auto deadline = std::chrono::steady_clock::now() + grace;
  ChildStart start = startChild(spec);
  if (start.error != 0) {
    return {start.error == ENOENT || start.error == ENOTDIR ? kErrorProgramNotFound : kErrorLaunchFailed,
            "Can't run “" + command.front() + "”: " + std::strerror(start.error)};
  }
  const ReportChannel::Heard heard = channel->await(start.child, deadline);
  if (!heard.launcherFailure && watchedClientOpened(heard.report, route.verdict)) return {};
  return watchedFailure(heard, command.front());
}

DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper) {
  switch (route.kind) {
    case DraftRoute::Kind::Start:
      return started(route);
    case DraftRoute::Kind::Watched:
      return carryOutWatched(route, helperPath(kTerminalHelperName), std::getenv("XDG_RUNTIME_DIR"),
                             platform::kProgramGraceTime);
    case DraftRoute::Kind::Portal:
      return askPortal(draft, portalHelper);
    case DraftRoute::Kind::Refuse:
      break;
  }
  return {kErrorNoDraftRoute, route.why};
}

DraftOutcome openDraft(const Draft& draft) {
  const DraftRoute route = decideRoute(gatherMailFacts(), draft);
  return carryOut(route, draft, route.kind == DraftRoute::Kind::Portal ? helperPath(kPortalHelperName) : std::string());
}

}  // namespace platform::mail
