#include "mail/mail_service.h"

#include <sys/wait.h>

#include <optional>

#include "platform/error_numbers.h"
#include "platform/file_io.h"
#include "mail/draft_guard.h"
#include "mail/header_line.h"
#include "mail/helper_words.h"
#include "mail/host_route.h"
#include "mail/mail_address.h"
#include "mail/mail_facts.h"
#include "mail/report_channel.h"
#include "mail/route_plan.h"

namespace mail {
namespace {

using platform::kErrorKilledBySignal;
using platform::kErrorLaunchFailed;

constexpr unsigned kTextsFileMode = 0600;

// Whether the client's running instance is held by a dialog of an earlier
// request: its answer to the route's query does not come in time. A query
// that cannot be run, or fails, says nothing either way.
bool heldByDialog(const MailContext& context, const DraftRoute& route) {
  if (route.busyProbe.empty()) return false;
  const ProgramRun probe = context.launch.run(route.busyProbe, context.busyProbeTime, platform::AtDeadline::End, {});
  return probe.errorNumber == platform::kErrorTimedOut;
}

// Writes the texts file the route's client reads, when it reads one: a
// new file of the user's alone in the job's private directory, left there
// for the job's lifetime, since a client may read it long after the job
// has answered (a cold Thunderbird read it after 33 s on a loaded machine;
// a running one after the request's forwarder had exited).
bool textsFileWritten(const MailContext& context, const DraftRoute& route) {
  if (!route.textsFileBytes) return true;
  return context.textsFile.directory != nullptr &&
         platform::writeFileAtomically(context.textsFile, *route.textsFileBytes, kTextsFileMode);
}

ServiceAnswer started(const MailContext& context, const DraftRoute& route) {
  if (heldByDialog(context, route)) {
    // Handed on now, the draft would wait unseen until the user closes
    // that dialog, or for ever when they quit the client instead.
    return {kErrorNoDraftRoute, "The running mail client is busy with a dialog of an earlier request; "
                                "the draft was not handed to it."};
  }
  if (!textsFileWritten(context, route)) {
    return {kErrorLaunchFailed, "The draft's texts could not be written for the mail client to read."};
  }
  const auto launch = [&](const std::vector<std::string>& command) {
    return context.launch.run(command, context.grace, platform::AtDeadline::LeaveRunning, {});
  };
  if (!route.startAloneFirst.empty()) {
    // Still running at the end of the grace, or handed to the running one.
    ProgramRun alone = launch(route.startAloneFirst);
    if (alone.errorNumber != 0) return {alone.errorNumber, std::move(alone.message)};
  }
  ProgramRun run = launch(route.argv);
  if (run.errorNumber == 0) return {};
  if (route.verdict == Verdict::ForwarderMayExit255 && run.errorNumber == kForwarderExitStatus) return {};
  // run program never reports a missing permission: a client that cannot
  // be executed is a failed start, so only the portal's refusal below is one.
  return {run.errorNumber, std::move(run.message)};
}

// Runs the portal helper and takes its own answer as the outcome. The
// helper keeps the deadline itself and closes the request after it; the
// backstop only ends a helper that failed to keep it (a hung bus library),
// which is no draft. The draft goes to it on its standard input.
ServiceAnswer askPortal(const MailContext& context, PortalBackend backend, const Draft& draft) {
  const std::chrono::milliseconds deadline = context.portalDeadline;
  const std::optional<std::string> input = portalInput(draft);
  if (!input) return {kErrorLaunchFailed, "The draft cannot be handed to the desktop portal's helper."};
  ProgramRun run = context.launch.run(portalCommand(context.portalHelper, backend, deadline), portalBackstop(deadline),
                                      platform::AtDeadline::End, *input);
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
ServiceAnswer watchedFailure(const ReportChannel::Heard& heard, const std::string& launcher) {
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

// Starts the launcher with the helper and the channel's address, hands the
// helper the client's command through the channel, out of sight of other
// users, and reads what the helper reports by the end of the grace.
ServiceAnswer watched(const MailContext& context, const DraftRoute& route) {
  if (route.launcher.empty() || route.argv.empty()) return {kErrorLaunchFailed, "No command to start."};
  if (!textsFileWritten(context, route)) {
    return {kErrorLaunchFailed, "The draft's texts could not be written for the mail client to read."};
  }
  std::optional<ReportChannel> channel = ReportChannel::open(context.runtimeDirectory.c_str(), route.argv);
  if (!channel) {
    return {kErrorNoDraftRoute, "No private place in XDG_RUNTIME_DIR to learn whether the mail client opened the draft."};
  }
  std::vector<std::string> command = route.launcher;
  command.push_back(context.terminalHelper);
  command.push_back(channel->address());
  // The grace runs from before the launcher's start, as a descriptor the
  // channel's wait polls beside the helper and the launcher.
  const platform::UniqueFd graceOver = context.launch.timer ? context.launch.timer(context.grace) : platform::UniqueFd();
  if (!graceOver) return {kErrorLaunchFailed, "No timer to bound the wait for the mail client."};
  ProgramStart start = context.launch.start(command);
  if (start.errorNumber != 0) return {start.errorNumber, std::move(start.message)};
  const ReportChannel::Heard heard = channel->await(start.ended.get(), graceOver.get());
  if (!heard.launcherFailure && watchedClientOpened(heard.report, route.verdict)) return {};
  return watchedFailure(heard, command.front());
}

}  // namespace

std::vector<std::string> portalCommand(const std::string& helper, PortalBackend backend,
                                       std::chrono::milliseconds deadline) {
  return {helper, std::to_string(deadline.count()), std::to_string(portalResponseTime(backend, deadline).count())};
}

std::optional<std::string> portalInput(const Draft& draft) {
  // The portal takes an address, not a URI part: the route admits only
  // addresses that need no encoding (carriesAddress).
  return packWords({draft.recipient, draft.subject, draft.body, draft.attachment});
}

namespace {

ServiceAnswer carryOutOne(const MailContext& context, const DraftRoute& route, const Draft& draft) {
  switch (route.kind) {
    case DraftRoute::Kind::Start:
      return started(context, route);
    case DraftRoute::Kind::Watched:
      return watched(context, route);
    case DraftRoute::Kind::Portal:
      return askPortal(context, route.portalBackend, draft);
    case DraftRoute::Kind::Host:
      // openDraft takes the portal route when nothing ran on the host.
      return carryOutOnHost(context, route, draft)
          .value_or(ServiceAnswer{platform::kErrorLaunchFailed, "The Flatpak service ran nothing on the host."});
    case DraftRoute::Kind::Refuse:
      break;
  }
  return {kErrorNoDraftRoute, route.why};
}

}  // namespace

ServiceAnswer carryOut(const MailContext& context, const DraftRoute& route, const Draft& draft) {
  ServiceAnswer answer = carryOutOne(context, route, draft);
  // The next of the user's commands is tried only when this one did not
  // open the draft, as the desktop's hand-off tries MAILER's list.
  for (const DraftRoute& next : route.fallbacks) {
    if (answer.errorNumber == 0) break;
    answer = carryOutOne(context, next, draft);
  }
  return answer;
}

ServiceAnswer openDraft(const MailContext& context, const Draft& draft) {
  // Checked before anything is gathered or started: an address a client
  // could read as more than one recipient never leaves the program.
  if (!draft.recipient.empty() && !isPlainAddress(draft.recipient)) {
    return {kErrorBadRecipient, "The recipient is not one plain e-mail address."};
  }
  // Every route hands the subject to a client that writes it into the
  // draft's header: a line break there would add headers of its own.
  if (!isOneHeaderLine(draft.subject)) {
    return {kErrorSubjectNotOneLine, "The subject is not one line: it holds a line break or a control character."};
  }
  // A host asking which route a job would take is answered by this plan.
  RoutePlan plan = planRoute(context, draft);
  MailFacts& facts = plan.facts;
  DraftRoute& route = plan.route;
  if (route.kind == DraftRoute::Kind::Host) {
    if (std::optional<ServiceAnswer> answer = carryOutOnHost(context, route, draft)) return *answer;
    // Nothing ran on the host (no Flatpak service, or it refused the
    // command): the sandbox's own way out, as without the grant.
    facts.hostDesktopHelper.clear();
    route = admittedRoute(context, facts, decideRoute(facts, draft));
  }
  // A client is started by one job at a time; the turn is held until the
  // route's grace wait has ended. Without a private runtime directory there
  // is no place for the turn, and the start goes ahead as before.
  std::optional<ClientTurn> turn;
  const bool startsClient = route.kind == DraftRoute::Kind::Start || route.kind == DraftRoute::Kind::Watched ||
                            !route.fallbacks.empty();
  if (startsClient && facts.privateChannel) {
    turn = ClientTurn::take(context.runtimeDirectory, kClientTurnPatience);
    if (!turn) return {kErrorNoDraftRoute, "Another draft is still being handed to the mail client."};
  }
  return carryOut(context, route, draft);
}

}  // namespace mail
