// The second stage of a job: the job document, read and validated.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/directory.h"

struct AcceptedJob {
  std::string subject;
  std::string body;
  bool attachLogs = false;
};

// Validates the bytes of a job document: a JSON object with exactly the keys
// "subject", "body" and "attachLogs"; a subject that starts with the subject
// prefix, of at most 200 bytes of UTF-8 and without U+0000; a body of at most
// 8192 bytes without U+0000; attachLogs true or false.
std::optional<AcceptedJob> acceptJobDocument(std::string_view bytes);

// Checks job.json in the job directory as the user's private file, reads it
// and validates it.
std::optional<AcceptedJob> readJobDocument(const platform::Directory& jobDirectory);
