// The route a draft takes on this session, decided as a job decides it:
// the facts gathered from the context, the route decided on them and
// admitted. The job carries the route out (mail_service.h); a host asks
// for it beforehand with the same code, and nothing here starts a program.
#pragma once

#include "mail/client_setup.h"
#include "mail/draft_route.h"
#include "mail/mail_context.h"

namespace mail {

// `route`, decided on `facts`, admitted with the client files and session
// of `context` (route_admission.h).
DraftRoute admittedRoute(const MailContext& context, const MailFacts& facts, DraftRoute route);

struct RoutePlan {
  MailFacts facts;
  // Admitted, unless it leads to the host (DraftRoute::Kind::Host): the
  // host then decides with facts of its own.
  DraftRoute route;
};
RoutePlan planRoute(const MailContext& context, const Draft& draft);

// The routes the draft takes with its log and without it, on facts
// gathered once: whether a draft fails for its log alone.
struct LogRoutes {
  MailFacts facts;
  DraftRoute withLog;
  DraftRoute withoutLog;
};
LogRoutes planLogRoutes(const MailContext& context, const Draft& draftWithLog);
// The same on facts, client files and a session given (a test's made up).
LogRoutes decideLogRoutes(const MailFacts& facts, const Draft& draftWithLog, const ClientFiles& files,
                          const JobSession& job);

}  // namespace mail
