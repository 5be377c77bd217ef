#include "mail/mail_service.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "platform/bundle.h"
#include "platform/child_process.h"
#include "platform/error_numbers.h"
#include "mail/draft_guard.h"
#include "mail/mail_address.h"
#include "mail/mail_facts.h"
#include "mail/report_channel.h"
#include "mail/route_admission.h"
#include "platform/paths.h"
#include "platform/program_search.h"

extern char** environ;

namespace mail {
namespace {

using platform::handedOnEnvironment;
using platform::kErrorKilledBySignal;
using platform::kErrorLaunchFailed;
using platform::kErrorProgramNotFound;
using platform::ProgramRun;
using platform::programCandidates;
using platform::searchPathOf;

// Where the bundle's helpers lie: beside the executable in Contents/MacOS.
std::string helperPath(std::string_view name) {
  const platform::Bundle& bundle = platform::mainBundle();
  const std::string dir =
      bundle.bundlePath.empty() ? bundle.resourceDirectory
                                : platform::appendingPathComponent(platform::appendingPathComponent(bundle.bundlePath, "Contents"), "MacOS");
  return platform::appendingPathComponent(dir, std::string(name));
}

DraftOutcome started(const DraftRoute& route, const Launcher& launch) {
  constexpr auto kLeave = platform::AtDeadline::LeaveRunning;
  ProgramRun run = launch(route.argv, platform::kProgramGraceTime, kLeave);
  if (run.errorNumber == platform::kErrorKilledBySignal && !route.startAloneAfterCrash.empty()) {
    // The client left running by this start (or already ended by another
    // fault) takes the request from a second process.
    run = launch(route.startAloneAfterCrash, platform::kProgramGraceTime, kLeave);
    if (run.errorNumber == 0) run = launch(route.argv, platform::kProgramGraceTime, kLeave);
  }
  if (run.errorNumber == 0) return {};
  if (route.verdict == Verdict::ForwarderMayExit255 && run.errorNumber == kForwarderExitStatus) return {};
  // run program never reports a missing permission: a client that cannot
  // be executed is a failed start, so only the portal's refusal below is one.
  return {run.errorNumber, std::move(run.message)};
}

// Runs the portal helper and takes its own answer as the outcome. The
// helper keeps the deadline itself and closes the request after it; the
// backstop only ends a helper that failed to keep it (a hung bus library),
// which is no draft.
DraftOutcome askPortal(PortalBackend backend, const Draft& draft, const std::string& helper, const Launcher& launch,
                       std::chrono::milliseconds deadline) {
  ProgramRun run = launch(portalCommand(helper, draft, deadline), portalBackstop(deadline), platform::AtDeadline::End);
  // A helper that could not start, was ended at the backstop or crashed
  // gives no portal answer at all.
  if (run.errorNumber < 0 || run.errorNumber > 255) return {run.errorNumber, std::move(run.message)};
  const int status = static_cast<int>(run.errorNumber);
  switch (meaningOf(backend, status)) {
    case PortalMeaning::Opened:
      return {};
    case PortalMeaning::PermissionDenied:
      return {platform::kErrorPermissionDenied, "The desktop portal does not allow this program to compose e-mail."};
    case PortalMeaning::Cancelled:
      return {status, "The draft was cancelled."};
    case PortalMeaning::Failed:
      break;
  }
  if (status == kPortalNoAnswer || status == kPortalNoResponse) {
    return {status, "The desktop portal did not answer in time."};
  }
  // The KDE backend's 0 is a client it could not start.
  return {status != 0 ? status : platform::kErrorLaunchFailed, "The desktop portal did not open the draft."};
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
  if (route.launcher.empty() || route.argv.empty()) return {kErrorLaunchFailed, "No command to start."};
  std::optional<ReportChannel> channel = ReportChannel::open(runtimeDirectory);
  if (!channel) {
    return {kErrorNoDraftRoute, "No private place in XDG_RUNTIME_DIR to learn whether the mail client opened the draft."};
  }
  std::vector<std::string> command = route.launcher;
  command.push_back(terminalHelper);
  command.push_back(channel->address());
  command.insert(command.end(), route.argv.begin(), route.argv.end());
  platform::ChildSpec spec;
  spec.environment = startedEnvironment();
  std::vector<std::string_view> names(spec.environment->begin(), spec.environment->end());
  spec.paths = programCandidates(command.front(), searchPathOf(names));
  spec.arguments = command;
  const auto deadline = std::chrono::steady_clock::now() + grace;
  platform::ChildStart start = startChild(spec);
  if (start.error != 0) {
    return {start.error == ENOENT || start.error == ENOTDIR ? kErrorProgramNotFound : kErrorLaunchFailed,
            "Can't run “" + command.front() + "”: " + std::strerror(start.error)};
  }
  const ReportChannel::Heard heard = channel->await(start.child, deadline);
  if (!heard.launcherFailure && watchedClientOpened(heard.report, route.verdict)) return {};
  return watchedFailure(heard, command.front());
}

std::vector<std::string> portalCommand(const std::string& helper, const Draft& draft,
                                       std::chrono::milliseconds deadline) {
  // The portal takes an address, not a URI part: the route admits only
  // addresses that need no encoding (carriesAddress).
  std::vector<std::string> command = {helper, "--address=" + draft.recipient,
                                      std::to_string(deadline.count()), draft.subject, draft.body};
  if (!draft.attachment.empty()) command.push_back(draft.attachment);
  return command;
}

DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper,
                      const Launcher& launch, std::chrono::milliseconds portalDeadline) {
  switch (route.kind) {
    case DraftRoute::Kind::Start:
      return started(route, launch);
    case DraftRoute::Kind::Watched:
      // The launcher (a terminal) is watched beside the channel while it
      // runs, so it is started here rather than through `launch`, which
      // waits for a program's end.
      return carryOutWatched(route, helperPath(kTerminalHelperName), std::getenv("XDG_RUNTIME_DIR"),
                             platform::kProgramGraceTime);
    case DraftRoute::Kind::Portal:
      return askPortal(route.portalBackend, draft, portalHelper, launch, portalDeadline);
    case DraftRoute::Kind::Refuse:
      break;
  }
  return {kErrorNoDraftRoute, route.why};
}

DraftOutcome openDraft(const Draft& draft, const Launcher& launch) {
  // Checked before anything is gathered or started: an address a client
  // could read as more than one recipient never leaves the program.
  if (!draft.recipient.empty() && !isPlainAddress(draft.recipient)) {
    return {kErrorBadRecipient, "The recipient is not one plain e-mail address."};
  }
  const MailFacts facts = gatherMailFacts();
  const ClientContext context = gatherClientContext();
  const DraftRoute route = admitRoute(decideRoute(facts, draft), facts, UserClientFiles(context.bases), context.job);
  // A client is started by one job at a time; the turn is held until the
  // route's grace wait has ended. Without a private runtime directory there
  // is no place for the turn, and the start goes ahead as before.
  std::optional<ClientTurn> turn;
  const bool startsClient = route.kind == DraftRoute::Kind::Start || route.kind == DraftRoute::Kind::Watched;
  if (startsClient && facts.privateChannel) {
    turn = ClientTurn::take(std::getenv("XDG_RUNTIME_DIR"), kClientTurnPatience);
    if (!turn) return {kErrorNoDraftRoute, "Another draft is still being handed to the mail client."};
  }
  return carryOut(route, draft, route.kind == DraftRoute::Kind::Portal ? helperPath(kPortalHelperName) : std::string(),
                  launch);
}

}  // namespace mail
