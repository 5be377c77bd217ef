// The desktop's mail service: makes a draft in the user's mail client, or
// says why it could not. The job publishes it to the mail draft script as
// the command `open mail draft`.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/draft_route.h"
#include "mail/portal_answer.h"
#include "platform/run_program.h"

namespace mail {

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
// The subject holds a line break or another control character
// (header_line.h): nothing was started.
constexpr std::int64_t kErrorSubjectNotOneLine = -50;

// Starts a program and waits at most `wait` for its end, as runProgram
// does; one still running then is left running or ended as `atDeadline`
// says; `input`, when not empty, is its standard input. The service starts
// every client and helper through one, so that tests can watch what a
// route starts without starting anything.
using Launcher = std::function<platform::ProgramRun(const std::vector<std::string>& command,
                                                    std::chrono::milliseconds wait, platform::AtDeadline atDeadline,
                                                    std::string_view input)>;

// Checks the recipient, gathers the facts, decides the route and carries it
// out, starting programs through `launch`.
DraftOutcome openDraft(const Draft& draft, const Launcher& launch);

// Carries out a decided route, starting programs through `launch`. A
// started client still running after the grace time counts as opened (one
// started cold stays in the foreground). `portalHelper` is the program that
// asks the desktop portal (used by Kind::Portal only), given
// `portalDeadline` for the whole exchange; its own answer is the outcome.
// Only unit tests pass a shorter deadline.
DraftOutcome carryOut(const DraftRoute& route, const Draft& draft, const std::string& portalHelper,
                      const Launcher& launch, std::chrono::milliseconds portalDeadline = kPortalDeadline);

// The portal helper's command line: HELPER MILLISECONDS RESPONSE_MILLISECONDS,
// the deadline of the whole exchange and how long the backend's Response
// is awaited once the portal has taken the call (portalResponseTime). It
// holds nothing of the draft.
std::vector<std::string> portalCommand(const std::string& helper, PortalBackend backend,
                                       std::chrono::milliseconds deadline);

// What the portal helper reads on its standard input: the recipient's
// address (the portal's own option takes an address, not a URI part; empty
// when the draft has none), the subject, the body and the log's path
// (empty when none), as words (helper_words.h). Nothing when a text cannot
// be packed.
std::optional<std::string> portalInput(const Draft& draft);

// Carries out a Watched route: makes the private channel in
// `runtimeDirectory`, starts the launcher with `terminalHelper` and the
// client after it, and reads the helper's report at the end of `grace`.
// Nothing is started when the channel cannot be made.
DraftOutcome carryOutWatched(const DraftRoute& route, const std::string& terminalHelper,
                             const char* runtimeDirectory, std::chrono::milliseconds grace);

// The portal helper's name beside the executable.
inline constexpr std::string_view kPortalHelperName = "support-draft-portal";
// The client helper's: it starts a client inside a terminal and reports to
// the program how it ended.
inline constexpr std::string_view kTerminalHelperName = "support-draft-terminal";

}  // namespace mail
