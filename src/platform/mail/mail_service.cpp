#include "platform/mail/mail_service.h"

#include "platform/bundle.h"
#include "platform/error_numbers.h"
#include "platform/mail/mail_address.h"
#include "platform/mail/mail_facts.h"
#include "platform/paths.h"

namespace platform::mail {
namespace {

using platform::ProgramRun;

constexpr int kForwarderStatus = 255;

// Where the portal helper lies: beside the executable in Contents/MacOS.
std::string portalHelperPath() {
  const platform::Bundle& bundle = platform::mainBundle();
  const std::string dir =
      bundle.bundlePath.empty() ? bundle.resourceDirectory
                                : appendingPathComponent(appendingPathComponent(bundle.bundlePath, "Contents"), "MacOS");
  return appendingPathComponent(dir, kPortalHelperName);
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
  if (route.verdict == Verdict::ForwarderMayExit255 && run.errorNumber == kForwarderStatus) return {};
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

}  // namespace

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
  const DraftRoute route = decideRoute(gatherMailFacts(), draft);
  return carryOut(route, draft, route.kind == DraftRoute::Kind::Portal ? portalHelperPath() : std::string(),
                  launch);
}

}  // namespace platform::mail
