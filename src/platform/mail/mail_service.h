// The desktop's mail service: makes a draft in the user's mail client, or
// says why it could not. The job publishes it to the mail draft script as
// the command `open mail draft`.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/mail/draft_route.h"
#include "platform/run_program.h"

namespace platform::mail {

// The service's answer: 0 when the draft is open in the client with
// everything the request holds; otherwise an error number and why.
struct DraftOutcome {
  std::int64_t errorNumber = 0;
  std::string message;
};

// No route is known to carry what was asked (an attachment the default
// client or the sandbox would drop): nothing was started.
constexpr std::int64_t kErrorNoDraftRoute = -10000;
// The recipient is not one plain e-mail address: nothing was started.
constexpr std::int64_t kErrorBadRecipient = -50;

// Starts a program and waits at most `grace` for its end, as runProgram
// does. The service starts every client and helper through one, so that
// tests can watch what a route starts without starting anything.
using Launcher = std::function<platform::ProgramRun(const std::vector<std::string>& command,
                                                               std::chrono::milliseconds grace)>;

// Checks the recipient, gathers the facts, decides the route and carries it
// out, starting programs through `launch`.
DraftOutcome openDraft(const Draft& draft, const Launcher& launch);

// Carries out a decided route, starting programs through `launch`.
// `portalHelper` is the program that asks the desktop portal (used by
// Kind::Portal only).
DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper,
                      const Launcher& launch);

// The portal helper's command line for `draft`:
// HELPER --address=ADDRESS SUBJECT BODY [LOG], the address encoded as
// encodedAddress gives it, empty when the draft has no recipient.
std::vector<std::string> portalCommand(const std::string& helper, const Draft& draft);

// The exit statuses of the portal helper (Contents/MacOS/support-draft-portal).
enum PortalStatus : int {
  kPortalOpened = 0,
  kPortalCancelled = 1,    // the user cancelled (response 1)
  kPortalFailed = 2,       // the portal answered 2, or the call failed
  kPortalAccessDenied = 3, // the portal refused with org.freedesktop.DBus.Error.AccessDenied
  kPortalBadFile = 4,      // the attachment is not a private regular file of the user
  kPortalUsage = 64,
};

// The portal helper's name beside the executable.
inline constexpr std::string_view kPortalHelperName = "support-draft-portal";

}  // namespace platform::mail
