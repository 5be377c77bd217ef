// The reasons the host library refuses for: the job rules' reasons under
// the numbers their table gives them, and the library's own beside them;
// and a refusal, a reason with its sentence.
#pragma once

#include <string>

#include "job/rule_breach.h"

// The library's own reasons, numbered from 64 on: name (also the stable
// code), the suffix of its constant in the C API, and its number there.
// Add a reason at the end, with the next number.
#define SUPPORT_DRAFT_LIBRARY_REASONS(X)         \
  X(directoryNotMade, DIRECTORY_NOT_MADE, 64)     \
  X(jobNotWritten, JOB_NOT_WRITTEN, 65)           \
  X(notAJobDirectory, NOT_A_JOB_DIRECTORY, 66)    \
  X(resultNotRemovable, RESULT_NOT_REMOVABLE, 67) \
  X(startFailed, START_FAILED, 68)                \
  X(bodyFileUnreadable, BODY_FILE_UNREADABLE, 69) \
  X(invalidArgument, INVALID_ARGUMENT, 70)        \
  X(outOfMemory, OUT_OF_MEMORY, 71)               \
  X(bundleNameInvalid, BUNDLE_NAME_INVALID, 72)   \
  X(bundleIdentifierInvalid, BUNDLE_IDENTIFIER_INVALID, 73) \
  X(bundleNotMade, BUNDLE_NOT_MADE, 74)           \
  X(jobRunning, JOB_RUNNING, 75)

namespace support_draft::host_side {

// Every reason the library gives, under its number in the C API.
#define SUPPORT_DRAFT_RULE_NUMBERED(name, api, number, sentence, limit) name = number,
#define SUPPORT_DRAFT_LIBRARY_NUMBERED(name, api, number) name = number,
enum class HostReason : int {
  none = 0,
  SUPPORT_DRAFT_REASONS(SUPPORT_DRAFT_RULE_NUMBERED) SUPPORT_DRAFT_LIBRARY_REASONS(SUPPORT_DRAFT_LIBRARY_NUMBERED)
};
#undef SUPPORT_DRAFT_LIBRARY_NUMBERED
#undef SUPPORT_DRAFT_RULE_NUMBERED

HostReason hostReason(Reason reason);

// The stable code: the rule's own code, or the library's for its reasons;
// "" for none and for a number that is no reason.
const char* reasonCodeOf(HostReason reason);

struct Refusal {
  HostReason reason = HostReason::none;
  std::string text;

  explicit operator bool() const { return reason != HostReason::none; }
};

// A broken job rule as the library tells it: its reason and its sentence.
Refusal refusalFor(const RuleBreach& breach);

// The system's sentence for an error number.
std::string errorText(int error);

}  // namespace support_draft::host_side
