#include "mail/route_plan.h"

#include <utility>

#include "mail/client_setup_files.h"
#include "mail/mail_facts.h"
#include "mail/route_admission.h"

namespace mail {
namespace {

// A route to the host is not admitted here: the host admits its own.
DraftRoute decidedAndAdmitted(const MailFacts& facts, const Draft& draft, const ClientFiles& files,
                              const JobSession& job) {
  DraftRoute route = decideRoute(facts, draft);
  if (route.kind == DraftRoute::Kind::Host) return route;
  return admitRoute(std::move(route), facts, files, job);
}

}  // namespace

DraftRoute admittedRoute(const MailContext& context, const MailFacts& facts, DraftRoute route) {
  const ClientContext client = gatherClientContext(context);
  return admitRoute(std::move(route), facts, UserClientFiles(client.bases), client.job);
}

RoutePlan planRoute(const MailContext& context, const Draft& draft) {
  RoutePlan plan;
  plan.facts = gatherMailFacts(context);
  const ClientContext client = gatherClientContext(context);
  plan.route = decidedAndAdmitted(plan.facts, draft, UserClientFiles(client.bases), client.job);
  return plan;
}

LogRoutes planLogRoutes(const MailContext& context, const Draft& draftWithLog) {
  const ClientContext client = gatherClientContext(context);
  return decideLogRoutes(gatherMailFacts(context), draftWithLog, UserClientFiles(client.bases), client.job);
}

LogRoutes decideLogRoutes(const MailFacts& facts, const Draft& draftWithLog, const ClientFiles& files,
                          const JobSession& job) {
  LogRoutes routes;
  routes.facts = facts;
  routes.withLog = decidedAndAdmitted(facts, draftWithLog, files, job);
  Draft withoutLog = draftWithLog;
  withoutLog.attachment.clear();
  routes.withoutLog = decidedAndAdmitted(facts, withoutLog, files, job);
  return routes;
}

}  // namespace mail
