// The desktop route run on the host from inside a Flatpak sandbox that may
// talk to the Flatpak session service: the sandbox side hands the draft to
// the bundle's desktop helper on the host through a descriptor, and the
// helper there decides and carries out the same route a job outside any
// sandbox takes, with the host's own facts. This unit holds what both sides
// agree on (the request's form, the exit statuses and what they mean) and
// the host side's work.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mail/draft_route.h"
#include "mail/mail_context.h"
#include "mail/mail_service.h"

namespace mail {

// The descriptor that carries the request to the desktop helper.
inline constexpr int kHostRequestDescriptor = 3;
// Far above any request the job's limits allow: a larger one is refused.
inline constexpr std::size_t kMaxHostRequestSize = 1 << 20;

// The request: the draft as a JSON object {"subject", "body", "log", "to"},
// texts that no argument vector shows.
std::string hostRequest(const Draft& draft);
// The draft a request holds; nothing when it is not exactly that form.
std::optional<Draft> draftOfHostRequest(std::string_view request);

// The desktop helper's exit statuses (on the host).
enum HostStatus : int {
  kHostOpened = 0,
  kHostNoRoute = 10,         // no route carries what was asked: nothing was started
  kHostLogNotShared = 11,    // the log is not the user's private file at the same path on the host
  kHostNotOpened = 12,       // the route started something that did not open the draft
  kHostBadRequest = 13,      // no request, or not one this helper reads
  kHostInSandbox = 14,       // the "host" is itself a sandbox: never relayed further
};

// The Flatpak helper's own exit statuses (inside the sandbox). Below
// kFlatpakUsage it passes on the desktop helper's exit status.
enum FlatpakStatus : int {
  kFlatpakUsage = 64,
  kFlatpakNotStarted = 70,     // nothing ran on the host: no service, or it refused the command
  kFlatpakNoAnswer = 71,       // the deadline passed before the command's end; it was signalled
  kFlatpakLost = 72,           // the bus or the service went away before the command's end
  kFlatpakHostSignalled = 73,  // the command on the host was ended by a signal
  kFlatpakHostOther = 74,      // the command ended with a status the desktop helper never gives
};

// What the Flatpak helper's exit status means for the draft. Nothing for
// kFlatpakNotStarted: nothing ran on the host, and the sandbox's own route
// (the portal) is as truthful as if the service had never been granted.
std::optional<ServiceAnswer> hostRouteOutcome(int flatpakHelperStatus);

// The sandbox side: starts the context's Flatpak helper with the request on
// its standard input, the host path of the desktop helper (route.argv) and
// the context's host deadline, and reads its exit status with
// hostRouteOutcome. A helper that cannot be started ran nothing on the host
// either (nothing); one still running after the backstop is ended and is
// no draft.
std::optional<ServiceAnswer> carryOutOnHost(const MailContext& context, const DraftRoute& route, const Draft& draft);

// The host side: reads the request, checks the log again on the host (the
// user's private regular file of at most `maxLogSize` bytes, reached
// without a link, at the path the sandbox named), gathers the host's own
// facts from `context` and carries out the route a job outside a sandbox
// takes. Gives the desktop helper's exit status.
int openDraftOnHost(const MailContext& context, std::string_view request, std::int64_t maxLogSize);

}  // namespace mail
