#include "job/rule_breach.h"

#include "job/job_contract.h"

namespace {

struct ReasonText {
  Reason reason;
  std::string_view code;
  std::string_view sentence;  // "{}" stands for the limit the rule sets, where it sets one
};

// One row per reason, in the header's order; the tests hold the codes to
// that table.
constexpr ReasonText kReasonTexts[] = {
    {Reason::subjectPrefix, "subjectPrefix", "the subject must begin with \"{}\""},
    {Reason::subjectTooLong, "subjectTooLong", "the subject is too long: at most {} bytes of UTF-8"},
    {Reason::subjectHoldsNul, "subjectHoldsNul", "the subject contains U+0000"},
    {Reason::subjectNotUtf8, "subjectNotUtf8", "the subject is not valid UTF-8"},
    {Reason::bodyTooLong, "bodyTooLong", "the body is too long: at most {} bytes of UTF-8"},
    {Reason::bodyHoldsNul, "bodyHoldsNul", "the body contains U+0000"},
    {Reason::bodyNotUtf8, "bodyNotUtf8", "the body is not valid UTF-8"},
    {Reason::jobIdInvalid, "jobIdInvalid", "the job id is not a UUID in canonical lower-case form"},
    {Reason::jobDocumentTooLarge, "jobDocumentTooLarge",
     "the job document is too large: at most {} bytes (control characters are written as 6-byte escapes)"},
    {Reason::jobDocumentUnreadable, "jobDocumentUnreadable", "the job document does not exist or cannot be read"},
    {Reason::jobDocumentNotRegularFile, "jobDocumentNotRegularFile", "the job document is not a regular file"},
    {Reason::jobDocumentLinked, "jobDocumentLinked", "the job document is a symbolic link"},
    {Reason::jobDocumentNotOwned, "jobDocumentNotOwned", "the job document belongs to another user"},
    {Reason::jobDocumentNotPrivate, "jobDocumentNotPrivate",
     "the job document can be read or written by group or others"},
    {Reason::jobDocumentInvalid, "jobDocumentInvalid",
     "the job document is not a JSON object with exactly subject, body and attachLogs of their types"},
    {Reason::logUnreadable, "logUnreadable", "the log does not exist or cannot be read"},
    {Reason::logIsDirectory, "logIsDirectory", "the log is a directory"},
    {Reason::logNotRegularFile, "logNotRegularFile", "the log is not a regular file"},
    {Reason::logLinked, "logLinked", "the log in the job directory is a symbolic link"},
    {Reason::logTooLarge, "logTooLarge", "the log is too large: at most {} bytes"},
    {Reason::logNotOwned, "logNotOwned", "the log belongs to another user"},
    {Reason::logNotPrivate, "logNotPrivate", "the log can be read or written by group or others"},
    {Reason::homeMissing, "homeMissing",
     "no home directory: HOME is not set and the password entry names no absolute path"},
    {Reason::homeNotAbsolute, "homeNotAbsolute",
     "HOME is not an absolute path and the password entry names no absolute path"},
    {Reason::homeNotFound, "homeNotFound", "the home directory (HOME) does not exist"},
    {Reason::homeNotUtf8, "homeNotUtf8", "the home directory's path (HOME) is not valid UTF-8"},
    {Reason::homeIsRoot, "homeIsRoot", "the home directory (HOME) is the root directory"},
    {Reason::directoryLinked, "directoryLinked",
     "a symbolic link lies on the job directory's path, where none may"},
    {Reason::directoryMissing, "directoryMissing", "the directory does not exist"},
    {Reason::directoryNotDirectory, "directoryNotDirectory", "not a directory, on the job directory's path"},
    {Reason::directoryUnreadable, "directoryUnreadable", "the directory cannot be opened"},
    {Reason::directoryNotOwned, "directoryNotOwned", "the directory belongs to neither the user nor root"},
    {Reason::directoryWritableByOthers, "directoryWritableByOthers",
     "the directory is writable by group or others"},
    {Reason::bundleMissing, "bundleMissing", "the bundle does not exist"},
    {Reason::bundleExecutableMissing, "bundleExecutableMissing",
     "the bundle holds no program at Contents/MacOS/support-draft"},
    {Reason::bundleChannelUnknown, "bundleChannelUnknown",
     "the bundle's Info.plist names no channel the program knows (QuorvelChannel dev or prod)"},
    {Reason::bundleSubjectPrefixInvalid, "bundleSubjectPrefixInvalid",
     "the bundle's Info.plist holds a subject prefix (SupportDraftSubjectPrefix) that is not 1 to 100 bytes of "
     "printable UTF-8 beginning with a non-blank"},
    {Reason::bundleToolDirectoryInvalid, "bundleToolDirectoryInvalid",
     "the bundle's Info.plist holds a tool directory (SupportDraftToolDirectory) that is not one hidden name of "
     "ASCII letters, digits, '.', '-' and '_' of at most 64 bytes"},
    {Reason::bundleRecipientInvalid, "bundleRecipientInvalid",
     "the bundle's Info.plist holds a recipient (SupportDraftRecipient) that is not one plain e-mail address"},
};

const ReasonText* textOf(Reason reason) {
  for (const ReasonText& text : kReasonTexts) {
    if (text.reason == reason) return &text;
  }
  return nullptr;
}

// What "{}" stands for in a reason's sentence.
std::string limitOf(const RuleBreach& breach) {
  switch (breach.reason) {
    case Reason::subjectPrefix:
      return breach.expectedPrefix.empty() ? std::string(kSubjectPrefix) : breach.expectedPrefix;
    case Reason::subjectTooLong:
      return std::to_string(kMaxSubjectSize);
    case Reason::bodyTooLong:
      return std::to_string(kMaxBodySize);
    case Reason::jobDocumentTooLarge:
      return std::to_string(kMaxJobDocumentSize);
    case Reason::logTooLarge:
      return std::to_string(kMaxLogSize);
    default:
      return "";
  }
}

}  // namespace

std::string_view reasonCode(Reason reason) {
  const ReasonText* text = textOf(reason);
  return text == nullptr ? std::string_view() : text->code;
}

std::optional<Reason> reasonForCode(std::string_view code) {
  for (const ReasonText& text : kReasonTexts) {
    if (text.code == code) return text.reason;
  }
  return std::nullopt;
}

std::string reasonSentence(const RuleBreach& breach) {
  const ReasonText* text = textOf(breach.reason);
  std::string sentence(text == nullptr ? std::string_view("the job breaks a rule") : text->sentence);
  if (const auto place = sentence.find("{}"); place != std::string::npos) {
    sentence.replace(place, 2, limitOf(breach));
  }
  if (!breach.path.empty()) sentence += ": " + breach.path;
  return sentence;
}
