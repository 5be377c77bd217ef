// Why a job breaks a rule: one reason per rule, with the input that is
// wrong. The program meets a broken rule with a silent stop and never looks
// at the reason; a host that prepares jobs reports it, as a stable code for
// its own code to act on and a sentence for a person.
//
// This header is also read by the host library, which is built as C++17.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Every reason, once: its name (which is also its stable code, part of the
// host's interface: never renamed or reused), the suffix and number of its
// constant in the host's C API (support_draft_host.h, checked against this
// table when the library is built), its sentence, and what "{}" in the
// sentence stands for (the limit the rule sets; "" where it sets none).
// Add a reason at the end, with the next number.
//
// homeNotUtf8 and homeIsRoot are rules of a host that prints and hands on
// the paths it makes; the program itself does not apply them. Nor does it
// apply subjectNotOneLine to the job document: it takes such a document
// and fails the draft (DRAFT_FAILED), since a line break would let the
// subject add headers in the client, so the host refuses the subject
// before it writes the job.
#define SUPPORT_DRAFT_REASONS(X)                                                                                    \
  X(subjectPrefix, SUBJECT_PREFIX, 1, "the subject must begin with \"{}\"", kSubjectPrefix)                        \
  X(subjectTooLong, SUBJECT_TOO_LONG, 2, "the subject is too long: at most {} bytes of UTF-8", kMaxSubjectSize)    \
  X(subjectHoldsNul, SUBJECT_HOLDS_NUL, 3, "the subject contains U+0000", "")                                      \
  X(subjectNotUtf8, SUBJECT_NOT_UTF8, 4, "the subject is not valid UTF-8", "")                                     \
  X(bodyTooLong, BODY_TOO_LONG, 5, "the body is too long: at most {} bytes of UTF-8", kMaxBodySize)                \
  X(bodyHoldsNul, BODY_HOLDS_NUL, 6, "the body contains U+0000", "")                                               \
  X(bodyNotUtf8, BODY_NOT_UTF8, 7, "the body is not valid UTF-8", "")                                              \
  X(jobIdInvalid, JOB_ID_INVALID, 8, "the job id is not a UUID in canonical lower-case form", "")                  \
  X(jobDocumentTooLarge, JOB_DOCUMENT_TOO_LARGE, 9,                                                                 \
    "the job document is too large: at most {} bytes (control characters are written as 6-byte escapes)",         \
    kMaxJobDocumentSize)                                                                                            \
  X(jobDocumentUnreadable, JOB_DOCUMENT_UNREADABLE, 10, "the job document does not exist or cannot be read", "")   \
  X(jobDocumentNotRegularFile, JOB_DOCUMENT_NOT_REGULAR_FILE, 11, "the job document is not a regular file", "")    \
  X(jobDocumentLinked, JOB_DOCUMENT_LINKED, 12, "the job document is a symbolic link", "")                         \
  X(jobDocumentNotOwned, JOB_DOCUMENT_NOT_OWNED, 13, "the job document belongs to another user", "")               \
  X(jobDocumentNotPrivate, JOB_DOCUMENT_NOT_PRIVATE, 14,                                                            \
    "the job document can be read or written by group or others", "")                                              \
  X(jobDocumentInvalid, JOB_DOCUMENT_INVALID, 15,                                                                   \
    "the job document is not a JSON object with exactly subject, body and attachLogs of their types", "")          \
  X(logUnreadable, LOG_UNREADABLE, 16, "the log does not exist or cannot be read", "")                             \
  X(logIsDirectory, LOG_IS_DIRECTORY, 17, "the log is a directory", "")                                            \
  X(logNotRegularFile, LOG_NOT_REGULAR_FILE, 18, "the log is not a regular file", "")                              \
  X(logLinked, LOG_LINKED, 19, "the log in the job directory is a symbolic link", "")                              \
  X(logTooLarge, LOG_TOO_LARGE, 20, "the log is too large: at most {} bytes", kMaxLogSize)                         \
  X(logNotOwned, LOG_NOT_OWNED, 21, "the log belongs to another user", "")                                         \
  X(logNotPrivate, LOG_NOT_PRIVATE, 22, "the log can be read or written by group or others", "")                   \
  X(homeMissing, HOME_MISSING, 23,                                                                                  \
    "no home directory: HOME is not set and the password entry names no absolute path", "")                        \
  X(homeNotAbsolute, HOME_NOT_ABSOLUTE, 24,                                                                         \
    "HOME is not an absolute path and the password entry names no absolute path", "")                              \
  X(homeNotFound, HOME_NOT_FOUND, 25, "the home directory (HOME) does not exist", "")                              \
  X(homeNotUtf8, HOME_NOT_UTF8, 26, "the home directory's path (HOME) is not valid UTF-8", "")                     \
  X(homeIsRoot, HOME_IS_ROOT, 27, "the home directory (HOME) is the root directory", "")                           \
  X(directoryLinked, DIRECTORY_LINKED, 28, "a symbolic link lies on the job directory's path, where none may", "") \
  X(directoryMissing, DIRECTORY_MISSING, 29, "the directory does not exist", "")                                   \
  X(directoryNotDirectory, DIRECTORY_NOT_DIRECTORY, 30, "not a directory, on the job directory's path", "")        \
  X(directoryUnreadable, DIRECTORY_UNREADABLE, 31, "the directory cannot be opened", "")                           \
  X(directoryNotOwned, DIRECTORY_NOT_OWNED, 32, "the directory belongs to neither the user nor root", "")          \
  X(directoryWritableByOthers, DIRECTORY_WRITABLE_BY_OTHERS, 33, "the directory is writable by group or others",   \
    "")                                                                                                             \
  X(bundleMissing, BUNDLE_MISSING, 34, "the bundle does not exist", "")                                            \
  X(bundleExecutableMissing, BUNDLE_EXECUTABLE_MISSING, 35,                                                         \
    "the bundle holds no program at Contents/MacOS/support-draft", "")                                             \
  X(bundleChannelUnknown, BUNDLE_CHANNEL_UNKNOWN, 36,                                                               \
    "the bundle's Info.plist names no channel the program knows (QuorvelChannel dev or prod)", "")                \
  X(bundleSubjectPrefixInvalid, BUNDLE_SUBJECT_PREFIX_INVALID, 37,                                                  \
    "the bundle's Info.plist holds a subject prefix (SupportDraftSubjectPrefix) that is not 1 to {} bytes of "      \
    "printable UTF-8 beginning with a non-blank",                                                                   \
    kMaxSubjectPrefixSize)                                                                                          \
  X(bundleToolDirectoryInvalid, BUNDLE_TOOL_DIRECTORY_INVALID, 38,                                                  \
    "the bundle's Info.plist holds a tool directory (SupportDraftToolDirectory) that is not one hidden name of "    \
    "ASCII letters, digits, '.', '-' and '_' of at most {} bytes",                                                  \
    kMaxToolDirectorySize)                                                                                          \
  X(bundleRecipientInvalid, BUNDLE_RECIPIENT_INVALID, 39,                                                           \
    "the bundle's Info.plist holds a recipient (SupportDraftRecipient) that is not one plain e-mail address", "") \
  X(subjectNotOneLine, SUBJECT_NOT_ONE_LINE, 40,                                                                    \
    "the subject must be one line: no line break or other control character but a tab", "")

#define SUPPORT_DRAFT_REASON_NAME(name, api, number, sentence, limit) name,
enum class Reason { SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_REASON_NAME) };
#undef SUPPORT_DRAFT_REASON_NAME

// A broken rule: the reason, and the path of the file or directory that
// breaks it (empty when the input is a text, such as the subject).
struct RuleBreach {
  Reason reason;
  std::string path;
  // For subjectPrefix, the prefix the subject must begin with (the bundle's
  // own); empty: the default prefix.
  std::string expectedPrefix = {};
};

// The stable machine-readable code of a reason: its name in the table.
std::string_view reasonCode(Reason reason);

// A sentence for a person that names the input that is wrong and, for a
// file or directory, its path: "the log is a directory: /tmp/app.log".
// Lower case, no final full stop, English; never parse it.
std::string reasonSentence(const RuleBreach& breach);
