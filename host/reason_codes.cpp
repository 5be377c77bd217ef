#include "reason_codes.h"

#include <iterator>
#include <optional>
#include <utility>

namespace support_draft::host_side {
namespace {

constexpr std::pair<Reason, support_draft_reason> kRuleReasons[] = {
    {Reason::subjectPrefix, SUPPORT_DRAFT_REASON_SUBJECT_PREFIX},
    {Reason::subjectTooLong, SUPPORT_DRAFT_REASON_SUBJECT_TOO_LONG},
    {Reason::subjectHoldsNul, SUPPORT_DRAFT_REASON_SUBJECT_HOLDS_NUL},
    {Reason::subjectNotUtf8, SUPPORT_DRAFT_REASON_SUBJECT_NOT_UTF8},
    {Reason::bodyTooLong, SUPPORT_DRAFT_REASON_BODY_TOO_LONG},
    {Reason::bodyHoldsNul, SUPPORT_DRAFT_REASON_BODY_HOLDS_NUL},
    {Reason::bodyNotUtf8, SUPPORT_DRAFT_REASON_BODY_NOT_UTF8},
    {Reason::jobIdInvalid, SUPPORT_DRAFT_REASON_JOB_ID_INVALID},
    {Reason::jobDocumentTooLarge, SUPPORT_DRAFT_REASON_JOB_DOCUMENT_TOO_LARGE},
    {Reason::jobDocumentUnreadable, SUPPORT_DRAFT_REASON_JOB_DOCUMENT_UNREADABLE},
    {Reason::jobDocumentNotRegularFile, SUPPORT_DRAFT_REASON_JOB_DOCUMENT_NOT_REGULAR_FILE},
    {Reason::jobDocumentLinked, SUPPORT_DRAFT_REASON_JOB_DOCUMENT_LINKED},
    {Reason::jobDocumentNotOwned, SUPPORT_DRAFT_REASON_JOB_DOCUMENT_NOT_OWNED},
    {Reason::jobDocumentNotPrivate, SUPPORT_DRAFT_REASON_JOB_DOCUMENT_NOT_PRIVATE},
    {Reason::jobDocumentInvalid, SUPPORT_DRAFT_REASON_JOB_DOCUMENT_INVALID},
    {Reason::logUnreadable, SUPPORT_DRAFT_REASON_LOG_UNREADABLE},
    {Reason::logIsDirectory, SUPPORT_DRAFT_REASON_LOG_IS_DIRECTORY},
    {Reason::logNotRegularFile, SUPPORT_DRAFT_REASON_LOG_NOT_REGULAR_FILE},
    {Reason::logLinked, SUPPORT_DRAFT_REASON_LOG_LINKED},
    {Reason::logTooLarge, SUPPORT_DRAFT_REASON_LOG_TOO_LARGE},
    {Reason::logNotOwned, SUPPORT_DRAFT_REASON_LOG_NOT_OWNED},
    {Reason::logNotPrivate, SUPPORT_DRAFT_REASON_LOG_NOT_PRIVATE},
    {Reason::homeMissing, SUPPORT_DRAFT_REASON_HOME_MISSING},
    {Reason::homeNotAbsolute, SUPPORT_DRAFT_REASON_HOME_NOT_ABSOLUTE},
    {Reason::homeNotFound, SUPPORT_DRAFT_REASON_HOME_NOT_FOUND},
    {Reason::homeNotUtf8, SUPPORT_DRAFT_REASON_HOME_NOT_UTF8},
    {Reason::homeIsRoot, SUPPORT_DRAFT_REASON_HOME_IS_ROOT},
    {Reason::directoryLinked, SUPPORT_DRAFT_REASON_DIRECTORY_LINKED},
    {Reason::directoryMissing, SUPPORT_DRAFT_REASON_DIRECTORY_MISSING},
    {Reason::directoryNotDirectory, SUPPORT_DRAFT_REASON_DIRECTORY_NOT_DIRECTORY},
    {Reason::directoryUnreadable, SUPPORT_DRAFT_REASON_DIRECTORY_UNREADABLE},
    {Reason::directoryNotOwned, SUPPORT_DRAFT_REASON_DIRECTORY_NOT_OWNED},
    {Reason::directoryWritableByOthers, SUPPORT_DRAFT_REASON_DIRECTORY_WRITABLE_BY_OTHERS},
    {Reason::bundleMissing, SUPPORT_DRAFT_REASON_BUNDLE_MISSING},
    {Reason::bundleExecutableMissing, SUPPORT_DRAFT_REASON_BUNDLE_EXECUTABLE_MISSING},
    {Reason::bundleChannelUnknown, SUPPORT_DRAFT_REASON_BUNDLE_CHANNEL_UNKNOWN},
    {Reason::bundleSubjectPrefixInvalid, SUPPORT_DRAFT_REASON_BUNDLE_SUBJECT_PREFIX_INVALID},
    {Reason::bundleToolDirectoryInvalid, SUPPORT_DRAFT_REASON_BUNDLE_TOOL_DIRECTORY_INVALID},
    {Reason::bundleRecipientInvalid, SUPPORT_DRAFT_REASON_BUNDLE_RECIPIENT_INVALID},
};
// A rule added without a number here would be refused as the wrong one.
static_assert(std::size(kRuleReasons) == std::size(kAllReasons));

// The rule behind an API reason; nothing for the library's own reasons.
std::optional<Reason> ruleReason(support_draft_reason reason) {
  for (const auto& [rule, api] : kRuleReasons) {
    if (api == reason) return rule;
  }
  return std::nullopt;
}

}  // namespace

support_draft_reason apiReason(Reason reason) {
  for (const auto& [rule, api] : kRuleReasons) {
    if (rule == reason) return api;
  }
  return SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN;
}

const char* reasonCodeOf(support_draft_reason reason) {
  if (const auto rule = ruleReason(reason)) return reasonCode(*rule).data();
  switch (reason) {
    case SUPPORT_DRAFT_REASON_DIRECTORY_NOT_MADE: return "directoryNotMade";
    case SUPPORT_DRAFT_REASON_JOB_NOT_WRITTEN: return "jobNotWritten";
    case SUPPORT_DRAFT_REASON_NOT_A_JOB_DIRECTORY: return "notAJobDirectory";
    case SUPPORT_DRAFT_REASON_RESULT_NOT_REMOVABLE: return "resultNotRemovable";
    case SUPPORT_DRAFT_REASON_START_FAILED: return "startFailed";
    case SUPPORT_DRAFT_REASON_BODY_FILE_UNREADABLE: return "bodyFileUnreadable";
    case SUPPORT_DRAFT_REASON_INVALID_ARGUMENT: return "invalidArgument";
    case SUPPORT_DRAFT_REASON_OUT_OF_MEMORY: return "outOfMemory";
    case SUPPORT_DRAFT_REASON_BUNDLE_NAME_INVALID: return "bundleNameInvalid";
    case SUPPORT_DRAFT_REASON_BUNDLE_IDENTIFIER_INVALID: return "bundleIdentifierInvalid";
    case SUPPORT_DRAFT_REASON_BUNDLE_NOT_MADE: return "bundleNotMade";
    default: return "";
  }
}

}  // namespace support_draft::host_side
