// Gathering what the desktop says about the user's mail set-up: MAILER, the
// sandbox, the runtime directory, the default mailto handler and its desktop entry.
#pragma once

#include "mail/client_setup.h"
#include "mail/client_setup_files.h"
#include "mail/draft_route.h"
#include "mail/mail_context.h"

namespace mail {

// The facts decideRoute needs, read from the context's environment and
// home and from the disk. Inside a sandbox only the portal backend
// the desktop's name points to, and whether the sandbox may run the
// context's desktop helper on the host: its path there, mapped through
// /.flatpak-info. The default handler is found by the MIME
// applications rules (mime_apps_files.h), and only when neither MAILER nor
// the sandbox settles the route first.
MailFacts gatherMailFacts(const MailContext& context);

// What reading a client's own set-up needs: the job's session and where
// the user's files lie (the XDG homes only when absolute, as the base
// directory rules require).
struct ClientContext {
  JobSession job;
  ClientFileBases bases;
};
ClientContext gatherClientContext(const MailContext& context);

}  // namespace mail
