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

// The codes are part of the host's interface: never renamed or reused.
//
// | Reason                    | code                      | the input that is wrong                              |
// |---------------------------|---------------------------|------------------------------------------------------|
// | subjectPrefix             | subjectPrefix             | subject does not begin with kSubjectPrefix           |
// | subjectTooLong            | subjectTooLong            | subject over kMaxSubjectSize bytes                   |
// | subjectHoldsNul           | subjectHoldsNul           | subject contains U+0000                              |
// | subjectNotUtf8            | subjectNotUtf8            | subject is not valid UTF-8                           |
// | bodyTooLong               | bodyTooLong               | body over kMaxBodySize bytes                         |
// | bodyHoldsNul              | bodyHoldsNul              | body contains U+0000                                 |
// | bodyNotUtf8               | bodyNotUtf8               | body is not valid UTF-8                              |
// | jobIdInvalid              | jobIdInvalid              | job id not a canonical lower-case UUID               |
// | jobDocumentTooLarge       | jobDocumentTooLarge       | job.json over kMaxJobDocumentSize bytes              |
// | jobDocumentUnreadable     | jobDocumentUnreadable     | job.json missing or cannot be examined               |
// | jobDocumentNotRegularFile | jobDocumentNotRegularFile | job.json is a directory, FIFO, device, ...           |
// | jobDocumentLinked         | jobDocumentLinked         | job.json is a symbolic link                          |
// | jobDocumentNotOwned       | jobDocumentNotOwned       | job.json belongs to another user                     |
// | jobDocumentNotPrivate     | jobDocumentNotPrivate     | job.json has a permission bit for group or others    |
// | jobDocumentInvalid        | jobDocumentInvalid        | job.json is not the JSON object the program takes    |
// | logUnreadable             | logUnreadable             | log missing or cannot be read                        |
// | logIsDirectory            | logIsDirectory            | log is a directory                                   |
// | logNotRegularFile         | logNotRegularFile         | log is a FIFO, device, socket, ...                   |
// | logLinked                 | logLinked                 | log.txt in the job directory is a symbolic link      |
// | logTooLarge               | logTooLarge               | log over kMaxLogSize bytes                           |
// | logNotOwned               | logNotOwned               | log.txt belongs to another user                      |
// | logNotPrivate             | logNotPrivate             | log.txt has a permission bit for group or others     |
// | homeMissing               | homeMissing               | HOME unset, and no home in the password entry        |
// | homeNotAbsolute           | homeNotAbsolute           | HOME not an absolute path, and no home in the        |
// |                           |                           | password entry                                       |
// | homeNotFound              | homeNotFound              | the home directory (HOME) does not exist             |
// | homeNotUtf8               | homeNotUtf8               | the home path is not valid UTF-8 (host only: it      |
// |                           |                           | cannot be printed in JSON)                           |
// | homeIsRoot                | homeIsRoot                | the home is "/" (host only)                          |
// | directoryLinked           | directoryLinked           | a directory on the job directory's path is a link    |
// | directoryMissing          | directoryMissing          | a directory below the home does not exist            |
// | directoryNotDirectory     | directoryNotDirectory     | something on the path is not a directory             |
// | directoryUnreadable       | directoryUnreadable       | a directory on the path cannot be opened             |
// | directoryNotOwned         | directoryNotOwned         | a directory from the home down belongs to another    |
// |                           |                           | user than the user or root                           |
// | directoryWritableByOthers | directoryWritableByOthers | a directory from the home down has a write bit for   |
// |                           |                           | group or others                                      |
// | bundleMissing             | bundleMissing             | the bundle directory does not exist                  |
// | bundleExecutableMissing   | bundleExecutableMissing   | no Contents/MacOS/support-draft in the bundle        |
// | bundleChannelUnknown      | bundleChannelUnknown      | Info.plist names no channel the program knows        |
// | bundleSubjectPrefixInvalid| bundleSubjectPrefixInvalid| Info.plist's subject prefix is not a valid one       |
// | bundleToolDirectoryInvalid| bundleToolDirectoryInvalid| Info.plist's tool directory is not a valid one       |
// | bundleRecipientInvalid    | bundleRecipientInvalid    | Info.plist's recipient is not one plain address      |
//
// The host-only reasons are rules of a host that prints and hands on the
// paths it makes; the program itself does not apply them.
enum class Reason {
  subjectPrefix,
  subjectTooLong,
  subjectHoldsNul,
  subjectNotUtf8,
  bodyTooLong,
  bodyHoldsNul,
  bodyNotUtf8,
  jobIdInvalid,
  jobDocumentTooLarge,
  jobDocumentUnreadable,
  jobDocumentNotRegularFile,
  jobDocumentLinked,
  jobDocumentNotOwned,
  jobDocumentNotPrivate,
  jobDocumentInvalid,
  logUnreadable,
  logIsDirectory,
  logNotRegularFile,
  logLinked,
  logTooLarge,
  logNotOwned,
  logNotPrivate,
  homeMissing,
  homeNotAbsolute,
  homeNotFound,
  homeNotUtf8,
  homeIsRoot,
  directoryLinked,
  directoryMissing,
  directoryNotDirectory,
  directoryUnreadable,
  directoryNotOwned,
  directoryWritableByOthers,
  bundleMissing,
  bundleExecutableMissing,
  bundleChannelUnknown,
  bundleSubjectPrefixInvalid,
  bundleToolDirectoryInvalid,
  bundleRecipientInvalid,
};

// Every reason, in the order above: for a host that lists or maps them.
inline constexpr Reason kAllReasons[] = {
    Reason::subjectPrefix, Reason::subjectTooLong, Reason::subjectHoldsNul,
    Reason::subjectNotUtf8, Reason::bodyTooLong, Reason::bodyHoldsNul,
    Reason::bodyNotUtf8, Reason::jobIdInvalid, Reason::jobDocumentTooLarge,
    Reason::jobDocumentUnreadable, Reason::jobDocumentNotRegularFile, Reason::jobDocumentLinked,
    Reason::jobDocumentNotOwned, Reason::jobDocumentNotPrivate, Reason::jobDocumentInvalid,
    Reason::logUnreadable, Reason::logIsDirectory, Reason::logNotRegularFile,
    Reason::logLinked, Reason::logTooLarge, Reason::logNotOwned,
    Reason::logNotPrivate, Reason::homeMissing, Reason::homeNotAbsolute,
    Reason::homeNotFound, Reason::homeNotUtf8, Reason::homeIsRoot,
    Reason::directoryLinked, Reason::directoryMissing, Reason::directoryNotDirectory,
    Reason::directoryUnreadable, Reason::directoryNotOwned, Reason::directoryWritableByOthers,
    Reason::bundleMissing, Reason::bundleExecutableMissing, Reason::bundleChannelUnknown,
    Reason::bundleSubjectPrefixInvalid, Reason::bundleToolDirectoryInvalid, Reason::bundleRecipientInvalid,
};

// A broken rule: the reason, and the path of the file or directory that
// breaks it (empty when the input is a text, such as the subject).
struct RuleBreach {
  Reason reason;
  std::string path;
  // For subjectPrefix, the prefix the subject must begin with (the bundle's
  // own); empty: the default prefix.
  std::string expectedPrefix = {};
};

// The stable machine-readable code of a reason (the table above).
std::string_view reasonCode(Reason reason);

// The reason with that code; nothing for any other text.
std::optional<Reason> reasonForCode(std::string_view code);

// A sentence for a person that names the input that is wrong and, for a
// file or directory, its path: "the log is a directory: /tmp/app.log".
// Lower case, no final full stop, English; never parse it.
std::string reasonSentence(const RuleBreach& breach);
