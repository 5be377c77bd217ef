// The last stage of a job: ask the bundle's mail draft script to open the
// draft, and leave the outcome in result.json for the host.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/job_document.h"
#include "mail/mail_context.h"
#include "platform/directory.h"
#include "platform/json.h"
#include "script/invoke.h"

enum class DraftOutcome { failed, permissionDenied, opened };

// "draft_opened" with no error number opens the draft; the error number
// -1743 means the user has not permitted the hand-off, whatever the reply;
// everything else is a failure.
DraftOutcome outcomeFor(const ScriptCallResult& result);

// {"ok":true}, or {"ok":false,"code":...} with "DRAFT_FAILED" or
// "MAIL_PERMISSION_DENIED".
platform::Json resultDocument(DraftOutcome outcome);

// Runs the draft request for an accepted job with the mail draft script
// in the bundle's resource directory, which gets the commands of
// draftCommands with the mail service in `context` and the bundle's support
// address (none: drafts without a recipient), and writes result.json into
// the job directory, replacing any earlier one whole, mode 0600.
void requestDraft(const platform::Directory& jobDirectory, const AcceptedJob& job,
                  std::string_view resourceDirectory, const mail::MailContext& context,
                  const std::optional<std::string>& supportAddress);
