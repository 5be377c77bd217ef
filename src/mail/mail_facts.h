// Gathering what the desktop says about the user's mail set-up: MAILER, the
// sandbox, the runtime directory, the default mailto handler and its desktop entry.
#pragma once

#include <string>

#include "mail/draft_route.h"

namespace mail {

// The facts decideRoute needs. Inside a sandbox only the portal backend
// the desktop's name points to, and whether the sandbox may run the bundle's
// desktop helper on the host: `desktopHelper` is its path inside the
// sandbox, mapped to the host through /.flatpak-info. The default handler is found by the MIME
// applications rules (mime_apps_files.h), and only when neither MAILER nor
// the sandbox settles the route first.
MailFacts gatherMailFacts(const std::string& desktopHelper = {});

}  // namespace mail
