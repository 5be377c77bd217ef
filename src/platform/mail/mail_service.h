// The desktop's mail service: makes a draft in the user's mail client, or
// says why it could not. The scripting command `open mail draft` reaches it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/mail/draft_route.h"

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

// Gathers the facts, decides the route and carries it out.
DraftOutcome openDraft(const Draft& draft);

// Carries out a decided route. `portalHelper` is the program that asks the
// desktop portal (used by Kind::Portal only).
DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper);

// Carries out a Watched route: makes the private channel in
// `runtimeDirectory`, starts the launcher with `terminalHelper` and the
// client after it, and reads the helper's report at the end of `grace`.
// Nothing is started when the channel cannot be made.
DraftOutcome carryOutWatched(const DraftRoute& route, const std::string& terminalHelper,
                             const char* runtimeDirectory, std::chrono::milliseconds grace);

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
// The client helper's: it starts a client inside a terminal and reports to
// the program how it ended.
inline constexpr std::string_view kTerminalHelperName = "support-draft-terminal";

}  // namespace platform::mail
