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
  ProgramRun run = launch(route.argv, platform::kProgramGraceTime);
  if (run.errorNumber == platform::kErrorKilledBySignal && !route.startAloneAfterCrash.empty()) {
    // The client left running by this start (or already ended by another
    // fault) takes the request from a second process.
    run = launch(route.startAloneAfterCrash, platform::kProgramGraceTime);
    if (run.errorNumber == 0) run = launch(route.argv, platform::kProgramGraceTime);
  }
  if (run.errorNumber == 0) return {};
  if (route.verdict == Verdict::ForwarderMayExit255 && run.errorNumber == kForwarderStatus) return {};
  // run program never reports a missing permission: a client that cannot
  // be executed is a failed start, so only the portal's refusal below is one.
  return {run.errorNumber, std::move(run.message)};
}

DraftOutcome askPortal(const Draft& draft, const std::string& helper, const Launcher& launch) {
  const ProgramRun run = launch(portalCommand(helper, draft), platform::kProgramGraceTime);
  switch (run.errorNumber) {
    case kPortalOpened:
      return {};
    case kPortalAccessDenied:
      return {platform::kErrorPermissionDenied, "The desktop portal does not allow this program to compose e-mail."};
    case kPortalCancelled:
      return {run.errorNumber, "The draft was cancelled."};
    default:
      return {run.errorNumber, "The desktop portal did not open the draft. " + run.message};
  }
}

}  // namespace

std::vector<std::string> portalCommand(const std::string& helper, const Draft& draft) {
  std::vector<std::string> command = {helper, "--address=" + encodedAddress(draft.recipient), draft.subject,
                                      draft.body};
  if (!draft.attachment.empty()) command.push_back(draft.attachment);
  return command;
}

DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper,
                      const Launcher& launch) {
  switch (route.kind) {
    case DraftRoute::Kind::Start:
      return started(route, launch);
    case DraftRoute::Kind::Portal:
      return askPortal(draft, portalHelper, launch);
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
