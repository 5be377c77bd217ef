#include "mail/route_admission.h"

#include <utility>

#include "mail/client_limits.h"

namespace mail {
namespace {

DraftRoute refused(std::string why) {
  DraftRoute route;
  route.kind = DraftRoute::Kind::Refuse;
  route.why = std::move(why);
  return route;
}

}  // namespace

DraftRoute admitRoute(DraftRoute route, const MailFacts& facts, const ClientFiles& files, const JobSession& job) {
  route.assurance = Assurance::StartOnly;
  if (route.kind != DraftRoute::Kind::Start && route.kind != DraftRoute::Kind::Watched) return route;
  if (route.client == Client::Unknown) {
    // The default handler may be a web browser: it composes only through
    // a web mailer of its own settings. MAILER is the user's own composer.
    if (!facts.mailer.empty()) return route;
    const Browser browser = browserForDesktopId(facts.handlerId);
    if (browser == Browser::None) return route;
    const SetupVerdict verdict = browserSetup(browser, installOf(facts.exec), files, job);
    if (verdict.kind == SetupVerdict::Kind::CannotCompose) return refused(verdict.why);
    // A web mailer's page is out of sight: that it composes depends on the
    // user's sign-in there.
    return route;
  }
  // The client's install is read from what starts it: its desktop entry,
  // or the program MAILER names.
  const ClientInstall install =
      installOf(facts.mailer.empty() ? facts.exec : std::vector<std::string>{route.argv.front()});
  const SetupVerdict verdict = clientSetup(route.client, install, files, job);
  if (verdict.kind == SetupVerdict::Kind::CannotCompose) return refused(verdict.why);
  if (!fitsClient(route.client, route.argv)) {
    return refused("The draft is longer than the mail client takes whole in one request.");
  }
  if (verdict.kind == SetupVerdict::Kind::Composes) route.assurance = Assurance::Checked;
  return route;
}

}  // namespace mail
