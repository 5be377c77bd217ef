// The commands the bundle's mail draft script runs with: `open mail draft`,
// the desktop's mail service, and `run program`. The job publishes them to
// the interpreter, which knows neither.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mail/mail_service.h"
#include "scripting/command.h"

// What the commands reach: the mail service, and the context it and `run
// program` start programs in. The job passes the real ones; tests and the
// fuzz build pass fakes. `supportAddress` is the bundle's checked recipient
// (BundleIdentity): a draft whose script names no address goes to it.
struct DraftServices {
  std::function<mail::ServiceAnswer(const mail::MailContext&, const mail::Draft&)> openDraft;
  mail::MailContext context;
  std::optional<std::string> supportAddress;
};

// The commands:
//
//   open mail draft {subject, body, log path} [to recipient]
//     asks the mail service for the draft (an empty log path: no
//     attachment; no `to`: the bundle's support address, or no recipient
//     when the bundle names none) and gives no value. Each item is
//     a text, number or Boolean; anything else raises kErrorCantCoerce
//     before the service is asked. The service's failure is raised with its
//     number.
//
//   run program COMMAND
//     starts a list's first item with the others as arguments (any other
//     value is the program alone) through the context's launcher, waits
//     the context's grace, and gives its standard output; its failure is
//     raised with its number (run_program.h).
scripting::CommandTable draftCommands(const DraftServices& services);
