// The desktop's mail service: makes a draft in the user's mail client, or
// says why it could not. The job publishes it to the mail draft script as
// the command `open mail draft`.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mail/draft_route.h"
#include "mail/mail_context.h"

namespace mail {

// The service's answer: 0 when the draft is open in the client with
// everything the request holds; otherwise an error number and why.
struct ServiceAnswer {
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

// Checks the recipient, gathers the facts, decides the route and carries it
// out.
ServiceAnswer openDraft(const MailContext& context, const Draft& draft);

// Carries out a decided route. A started client still running after the
// grace time counts as opened. The portal helper's own answer is the
// outcome of a Portal route. A Watched route makes the private report
// channel in the runtime directory, starts the launcher with the terminal
// helper and the client after it, and reads the helper's report at the end
// of the grace time; nothing is started when the channel cannot be made.
ServiceAnswer carryOut(const MailContext& context, const DraftRoute& route, const Draft& draft);

// The portal helper's command line: HELPER MILLISECONDS RESPONSE_MILLISECONDS,
// the deadline of the whole exchange and how long the backend's Response
// is awaited, counted from the call (portalResponseTime, responseDeadline). It
// holds nothing of the draft.
std::vector<std::string> portalCommand(const std::string& helper, PortalBackend backend,
                                       std::chrono::milliseconds deadline);

// What the portal helper reads on its standard input: the recipient's
// address (the portal's own option takes an address, not a URI part; empty
// when the draft has none), the subject, the body and the log's path
// (empty when none), as words (helper_words.h). Nothing when a text cannot
// be packed.
std::optional<std::string> portalInput(const Draft& draft);

}  // namespace mail
