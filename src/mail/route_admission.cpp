#include "mail/route_admission.h"

#include <utility>

#include "mail/client_limits.h"

namespace mail {
namespace {

// `route` turned into a refusal; MAILER's later commands stay to be tried.
DraftRoute refused(DraftRoute route, std::string why) {
  DraftRoute refusal;
  refusal.kind = DraftRoute::Kind::Refuse;
  refusal.why = std::move(why);
  refusal.fallbacks = std::move(route.fallbacks);
  return refusal;
}

}  // namespace

DraftRoute admitRoute(DraftRoute route, const MailFacts& facts, const ClientFiles& files, const JobSession& job) {
  // MAILER's later commands are tried only when the first did not open
  // the draft; each is admitted on its own.
  for (DraftRoute& fallback : route.fallbacks) fallback = admitRoute(std::move(fallback), facts, files, job);
  route.assurance = Assurance::StartOnly;
  if (route.kind != DraftRoute::Kind::Start && route.kind != DraftRoute::Kind::Watched) return route;
  if (route.client == Client::Unknown) {
    // The default handler may be a web browser: it composes only through
    // a web mailer of its own settings. MAILER is the user's own composer.
    if (!facts.mailer.empty()) return route;
    const Browser browser = browserForDesktopId(facts.handlerId);
    if (browser == Browser::None) return route;
    const SetupVerdict verdict = browserSetup(browser, installOf(route.argv), files, job);
    if (verdict.kind == SetupVerdict::Kind::CannotCompose) return refused(std::move(route), verdict.why);
    // A web mailer's page is out of sight: that it composes depends on the
    // user's sign-in there.
    return route;
  }
  // The client's install is read from the words that start it (a
  // Flatpak's `flatpak run … APP-ID`, a snap's /snap/bin/NAME).
  const ClientInstall install = installOf(route.argv);
  const SetupVerdict verdict = clientSetup(route.client, install, files, job);
  if (verdict.kind == SetupVerdict::Kind::CannotCompose) return refused(std::move(route), verdict.why);
  if (!fitsClient(route.client, route.argv)) {
    return refused(std::move(route), "The draft is longer than the mail client takes whole in one request.");
  }
  if (!keepsTexts(route.client, route.argv)) {
    return refused(std::move(route), "The mail client would alter a text holding '%' and two hexadecimal digits.");
  }
  if (verdict.kind == SetupVerdict::Kind::Composes && showsEveryRequest(route.client)) {
    route.assurance = Assurance::Checked;
  }
  return route;
}

}  // namespace mail
