// What a host may learn before it starts a job: which way the draft would
// go, whether its log would reach the client, and what an "opened" would
// prove. A pure reading of routes decided elsewhere (route_plan.h), so that
// every answer can be tried with facts a test makes up.
#pragma once

#include <string>
#include <string_view>

#include "mail/draft_route.h"

namespace mail {

struct RouteAnswer {
  enum class Way {
    None,           // no route: nothing would be started, the job fails
    DefaultClient,  // the desktop's default mailto handler is started
    Terminal,       // the default handler runs in a terminal, watched by the client helper
    Mailer,         // MAILER's command, the user's own composer
    Portal,         // the desktop portal, from inside a sandbox
    Host,           // the Flatpak service runs the desktop route on the host
  };
  // Whether a draft with a log gets it into the client.
  enum class Log {
    Carried,        // the route hands the log to the client
    NotCarried,     // no route carries the log, while the draft without it has one
    NoRoute,        // no route even without the log
    DecidedOnHost,  // the host decides with its own facts, which the sandbox cannot see
  };
  // What the route's "opened" proves (Assurance).
  enum class Proof {
    None,           // no route
    Checked,        // the client's own files say it shows its composer
    StartOnly,      // the client or portal was started and took the request
    DecidedOnHost,
  };
  Way way = Way::None;
  Log log = Log::NoRoute;
  Proof proof = Proof::None;
  Client client = Client::Unknown;  // the known client a start runs, if any
  std::string handler;              // DefaultClient, Terminal: the handler's desktop id
  PortalBackend portalBackend = PortalBackend::Unknown;  // Portal only
  std::string why;                  // None: why nothing would be started
};

// The answer for a job with a log (`logAsked`) or without, from the admitted
// routes of the same draft with and without its log, decided on `facts`.
// A refused MAILER command whose later command would be tried is passed
// over, as the job passes over it.
RouteAnswer answerRoute(const MailFacts& facts, const DraftRoute& withLog, const DraftRoute& withoutLog,
                        bool logAsked);

// The stable names hosts read: "none", "defaultClient", "terminal",
// "mailer", "portal", "flatpakHost"; "carried", "notCarried", "noRoute",
// "decidedOnHost"; "", "checked", "startOnly", "decidedOnHost"; a known
// client by its program's name ("thunderbird", "claws-mail", ...; "" for
// none); "gtk", "kde", "unknown".
std::string_view wayName(RouteAnswer::Way way);
std::string_view logName(RouteAnswer::Log log);
std::string_view proofName(RouteAnswer::Proof proof);
std::string_view clientName(Client client);
std::string_view portalBackendName(PortalBackend backend);

}  // namespace mail
