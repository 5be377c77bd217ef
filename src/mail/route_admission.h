// Whether a decided route may be carried out: a known client starts only
// when its own files say it will show the composer, a browser only when it
// hands e-mail links to a web mailer, and no client is handed a request
// longer than it takes whole. What the route's "opened" will then prove is
// set on the route (Assurance).
#pragma once

#include "mail/client_setup.h"
#include "mail/draft_route.h"

namespace mail {

// `route` as decideRoute gave it for `facts`, kept, marked Checked, or
// turned into a refusal saying why nothing is started.
DraftRoute admitRoute(DraftRoute route, const MailFacts& facts, const ClientFiles& files, const JobSession& job);

}  // namespace mail
