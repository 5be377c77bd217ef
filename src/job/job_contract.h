// What the program and a host that prepares its jobs must agree on: the
// limits of a job, the tool directory of each channel, the job document's
// form and the result document's codes. The job runner checks jobs with
// these rules and the host library prepares jobs with the very same ones,
// so a host learns of a broken rule before it writes anything.
//
// This header is also read by the host library, which is built as C++17.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "job/rule_breach.h"

inline constexpr std::string_view kJobDocumentName = "job.json";
inline constexpr std::string_view kLogName = "log.txt";
inline constexpr std::string_view kResultName = "result.json";
// The draft's texts for a mail client that reads them from a file rather
// than its command line, written by the program and kept with the job.
inline constexpr std::string_view kDraftTextsName = "draft.txt";
inline constexpr std::string_view kDraftsDirectory = "support-drafts";

inline constexpr std::int64_t kMaxJobDocumentSize = 16384;
inline constexpr std::int64_t kMaxLogSize = 24576;
// The subject prefix of a bundle that names none of its own.
inline constexpr std::string_view kSubjectPrefix = "Support Request - Quorvel ";
inline constexpr std::size_t kMaxSubjectSize = 200;
inline constexpr std::size_t kMaxBodySize = 8192;

inline constexpr std::string_view kDraftFailedCode = "DRAFT_FAILED";
inline constexpr std::string_view kPermissionDeniedCode = "MAIL_PERMISSION_DENIED";

// True for the canonical lower-case form of a UUID: 8-4-4-4-12 lower-case
// hexadecimal digits separated by hyphens. Any 128-bit value is allowed.
bool isCanonicalJobId(std::string_view candidate);

// The first rule of the subject and the body that the texts break, in the
// order the job runner checks them: subjectTooLong, subjectPrefix (the
// subject must begin with `prefix`, the bundle's subject prefix, as a text
// under canonical equivalence), subjectHoldsNul, bodyTooLong, bodyHoldsNul.
// Nothing when they keep every rule. Validity as UTF-8 is the job
// document's rule (makeJobDocument).
std::optional<RuleBreach> jobTextBreach(std::string_view subject, std::string_view body, std::string_view prefix);

// The tool directory for a channel name: ".vantrel-devtool-dev" for "dev",
// ".vantrel-devtool" for "prod" (compared as texts); nothing otherwise.
std::optional<std::string> toolDirectoryName(std::string_view channel);

// The job document for these fields, as the job runner reads it; nothing
// when a text cannot be written as JSON (it is not valid UTF-8).
std::optional<std::string> jobDocumentBytes(std::string_view subject, std::string_view body, bool attachLogs);

// What a result document says.
enum class ResultReading {
  opened,            // {"ok":true}
  permissionDenied,  // {"ok":false,"code":"MAIL_PERMISSION_DENIED"}
  failed,            // {"ok":false,"code":"DRAFT_FAILED"}
  unknown,           // anything else
};
ResultReading readResultDocument(std::string_view bytes);
