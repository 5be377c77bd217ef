#include "job/draft_request.h"

#include <string>
#include <vector>

#include "job/draft_commands.h"
#include "job/job_contract.h"
#include "job/job_log.h"
#include "mail/mail_service.h"
#include "platform/bundle.h"
#include "platform/error_numbers.h"
#include "platform/file_io.h"
#include "platform/text.h"

namespace {

constexpr std::string_view kScriptName = "support-mail";
constexpr std::string_view kScriptExtension = "applescript";
constexpr std::size_t kMaxScriptSize = 1 << 20;
constexpr std::string_view kHandler = "makesupportdraft";
constexpr std::string_view kOpenedReply = "draft_opened";
constexpr unsigned kResultPermissions = 0600;

// The script call, or nothing when the log or the script rules it out
// before any call.
std::optional<ScriptCallResult> callMailDraftScript(const platform::Directory& jobDirectory,
                                                    const AcceptedJob& job, std::string_view resourceDirectory,
                                                    const mail::MailContext& context,
                                                    const std::optional<std::string>& supportAddress) {
  const platform::FileLocation log = platform::childOf(jobDirectory, kLogName);
  if (job.attachLogs && logBreach(log)) return std::nullopt;

  const auto scriptPath = platform::resourcePath(resourceDirectory, kScriptName, kScriptExtension);
  if (!scriptPath) return std::nullopt;
  const auto source = platform::readWholeFile(*scriptPath, kMaxScriptSize);
  if (!source || !platform::isValidUtf8(*source)) return std::nullopt;

  const std::vector<std::string> arguments = {job.subject, job.body, job.attachLogs ? log.path() : ""};
  return invoke(*source, kHandler, arguments, draftCommands({mail::openDraft, context, supportAddress}));
}

}  // namespace

DraftOutcome outcomeFor(const ScriptCallResult& result) {
  if (result.resultText && platform::canonicallyEqual(*result.resultText, kOpenedReply) &&
      !result.errorNumber) {
    return DraftOutcome::opened;
  }
  if (result.errorNumber == platform::kErrorPermissionDenied) return DraftOutcome::permissionDenied;
  return DraftOutcome::failed;
}

platform::Json resultDocument(DraftOutcome outcome) {
  switch (outcome) {
    case DraftOutcome::opened:
      return {{"ok", true}};
    case DraftOutcome::permissionDenied:
      return {{"ok", false}, {"code", kPermissionDeniedCode}};
    case DraftOutcome::failed:
      break;
  }
  return {{"ok", false}, {"code", kDraftFailedCode}};
}

void requestDraft(const platform::Directory& jobDirectory, const AcceptedJob& job,
                  std::string_view resourceDirectory, const mail::MailContext& context,
                  const std::optional<std::string>& supportAddress) {
  DraftOutcome outcome = DraftOutcome::failed;
  if (const auto result = callMailDraftScript(jobDirectory, job, resourceDirectory, context, supportAddress)) {
    outcome = outcomeFor(*result);
  }

  const auto bytes = platform::serializeJson(resultDocument(outcome));
  if (!bytes) return;
  const platform::FileLocation resultFile = platform::childOf(jobDirectory, kResultName);
  // A failed write leaves any earlier document in place; it is restricted
  // all the same. Only a document of this job is: a link, a directory or a
  // file that is also linked from elsewhere at result.json is left alone.
  if (!platform::writeFileAtomically(resultFile, *bytes, kResultPermissions)) {
    platform::setPermissionsOfOwnFile(resultFile, kResultPermissions);
  }
}
