#include "platform/mail/mail_service.h"

#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include "platform/bundle.h"
#include "platform/child_process.h"
#include "platform/mail/mail_facts.h"
#include "platform/paths.h"
#include "platform/run_program.h"
#include "platform/scripting/errors.h"

namespace platform::mail {
namespace {

using platform::scripting::kErrorLaunchFailed;
using platform::scripting::kErrorPermissionDenied;
using platform::scripting::kErrorProgramNotFound;

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

// Runs the portal helper and takes its own answer as the outcome. The
// helper keeps the deadline itself and closes the request after it; the
// backstop only ends a helper that failed to keep it (a hung bus library),
// which is no draft.
DraftOutcome askPortal(PortalBackend backend, const Draft& draft, const std::string& helper,
                       std::chrono::milliseconds deadline) {
  std::vector<std::string> arguments = {helper, std::to_string(deadline.count()), draft.subject, draft.body};
  if (!draft.attachment.empty()) arguments.push_back(draft.attachment);
  platform::ChildSpec spec;
  spec.paths = {helper};
  spec.arguments = std::move(arguments);
  platform::ChildStart start = platform::startChild(spec);
  if (start.error != 0) {
    return {start.error == ENOENT ? kErrorProgramNotFound : kErrorLaunchFailed,
            "Can't run the desktop portal helper: " + std::string(std::strerror(start.error))};
  }
  const platform::ChildWait wait = start.child.wait(portalBackstop(deadline), platform::AtDeadline::End);
  if (wait.state != platform::ChildWait::State::Ended || !WIFEXITED(wait.waitStatus)) {
    return {kErrorKilledBySignal, "The desktop portal helper did not end by itself."};
  }
  const int status = WEXITSTATUS(wait.waitStatus);
  switch (meaningOf(backend, status)) {
    case PortalMeaning::Opened:
      return {};
    case PortalMeaning::PermissionDenied:
      return {kErrorPermissionDenied, "The desktop portal does not allow this program to compose e-mail."};
    case PortalMeaning::Cancelled:
      return {status, "The draft was cancelled."};
    case PortalMeaning::Failed:
      break;
  }
  if (status == kPortalNoAnswer) return {status, "The desktop portal did not answer in time."};
  // The KDE backend's 0 is a client it could not start.
  return {status != 0 ? status : kErrorLaunchFailed, "The desktop portal did not open the draft."};
}

}  // namespace

DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper,
                      std::chrono::milliseconds clientGrace, std::chrono::milliseconds portalDeadline) {
  switch (route.kind) {
    case DraftRoute::Kind::Start:
      return started(route, clientGrace);
    case DraftRoute::Kind::Portal:
      return askPortal(route.portalBackend, draft, portalHelper, portalDeadline);
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
