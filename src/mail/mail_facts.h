// Gathering what the desktop says about the user's mail set-up: MAILER, the
// sandbox, the runtime directory, the default mailto handler and its desktop entry.
#pragma once

#include <string>
#include <string_view>

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

// The first desktop id that the user's own MIME applications lists name as
// the mailto handler, read where they lie outside a sandbox: `home`/.config,
// each desktop's own list (XDG_CURRENT_DESKTOP, `currentDesktop`) before
// the plain one. A sandbox holds them there only when the application was
// granted them (its own configuration directory is elsewhere). "" when no
// list there names one, or when a list is there but cannot be read: then
// the choice cannot be known.
std::string userMailtoHandler(std::string_view home, std::string_view currentDesktop);

// What reading a client's own set-up needs: the job's session and where
// the user's files lie (the XDG homes only when absolute, as the base
// directory rules require).
struct ClientContext {
  JobSession job;
  ClientFileBases bases;
};
ClientContext gatherClientContext(const MailContext& context);

}  // namespace mail
