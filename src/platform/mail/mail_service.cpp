#include "platform/mail/mail_service.h"

#include "platform/bundle.h"
#include "platform/mail/mail_facts.h"
#include "platform/paths.h"
#include "platform/run_program.h"
#include "platform/scripting/errors.h"

namespace platform::mail {
namespace {

using platform::scripting::kErrorPermissionDenied;

constexpr int kForwarderStatus = 255;

// Where the portal helper lies: beside the executable in Contents/MacOS.
std::string portalHelperPath() {
  const platform::Bundle& bundle = platform::mainBundle();
  const std::string dir =
      bundle.bundlePath.empty() ? bundle.resourceDirectory
                                : appendingPathComponent(appendingPathComponent(bundle.bundlePath, "Contents"), "MacOS");
  return appendingPathComponent(dir, kPortalHelperName);
}

constexpr std::int64_t kErrorKilledBySignal = -128;

DraftOutcome started(const DraftRoute& route, std::chrono::milliseconds grace) {
  platform::ProgramRun run = platform::runProgram(route.argv, grace);
  if (run.errorNumber == kErrorKilledBySignal && !route.startAloneAfterCrash.empty()) {
    // The client left running by this start (or already ended by another
    // fault) takes the request from a second process.
    run = platform::runProgram(route.startAloneAfterCrash, grace);
    if (run.errorNumber == 0) run = platform::runProgram(route.argv, grace);
  }
  if (run.errorNumber == 0) return {};
  if (route.verdict == Verdict::ForwarderMayExit255 && run.errorNumber == kForwarderStatus) return {};
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

}  // namespace

DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper,
                      std::chrono::milliseconds clientGrace) {
  switch (route.kind) {
    case DraftRoute::Kind::Start:
      return started(route, clientGrace);
    case DraftRoute::Kind::Portal:
      return askPortal(draft, portalHelper);
    case DraftRoute::Kind::Refuse:
      break;
  }
  return {kErrorNoDraftRoute, route.why};
}

DraftOutcome openDraft(const Draft& draft) {
  const DraftRoute route = decideRoute(gatherMailFacts(), draft);
  return carryOut(route, draft, route.kind == DraftRoute::Kind::Portal ? portalHelperPath() : std::string());
}

}  // namespace platform::mail
