// The desktop's mail service: makes a draft in the user's mail client, or
// says why it could not. The scripting command `open mail draft` reaches it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/mail/draft_route.h"
#include "platform/mail/portal_answer.h"
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

// Gathers the facts, decides the route and carries it out.
DraftOutcome openDraft(const Draft& draft);

// Carries out a decided route. `portalHelper` is the program that asks the
// desktop portal (used by Kind::Portal only), given `portalDeadline` for
// the whole exchange. A started client still running after `clientGrace`
// counts as opened (one started cold stays in the foreground). Only unit
// tests pass shorter times.
DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper,
                      std::chrono::milliseconds clientGrace = kProgramGraceTime,
                      std::chrono::milliseconds portalDeadline = kPortalDeadline);

// The portal helper's name beside the executable.
inline constexpr std::string_view kPortalHelperName = "support-draft-portal";

}  // namespace platform::mail
