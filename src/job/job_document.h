// The second stage of a job: the job document, read and validated; and the
// document a host writes, made by the same rules.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "job/rule_breach.h"
#include "platform/directory.h"

struct AcceptedJob {
  std::string subject;
  std::string body;
  bool attachLogs = false;
};

// A job document judged: the job when it keeps every rule, otherwise the
// first rule it breaks.
struct JobDocumentCheck {
  std::optional<AcceptedJob> job;
  std::optional<RuleBreach> breach;
};

// Validates the bytes of a job document: a JSON object with exactly the keys
// "subject", "body" and "attachLogs" (jobDocumentInvalid otherwise); a
// subject and a body that keep jobTextBreach() with the bundle's subject
// prefix; attachLogs true or false (jobDocumentInvalid otherwise).
JobDocumentCheck checkJobDocument(std::string_view bytes, std::string_view subjectPrefix);

// Checks job.json in the job directory as the user's private file (at most
// kMaxJobDocumentSize bytes; the jobDocument... reasons name its path), reads
// it and validates it.
JobDocumentCheck checkJobDocumentIn(const platform::Directory& jobDirectory, std::string_view subjectPrefix);

// The job document a host writes for these fields, or the first rule it
// would break: subjectNotUtf8 / bodyNotUtf8, then jobTextBreach(), then
// jobDocumentTooLarge (control characters are written as 6-byte escapes, so
// a body within its limit can still make too large a document). The bytes,
// when given, pass checkJobDocument().
struct JobDocumentMaking {
  std::optional<std::string> bytes;
  std::optional<RuleBreach> breach;
};
JobDocumentMaking makeJobDocument(std::string_view subject, std::string_view body, bool attachLogs,
                                  std::string_view subjectPrefix);
