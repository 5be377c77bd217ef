// The C API's reasons: the job rules' reasons under the numbers their table
// gives them, and the library's own reasons beside them.
#pragma once

#include "job/rule_breach.h"
#include "support_draft_host.h"

// The library's own reasons, numbered from 64 on: name (also the stable
// code), the suffix of its constant in the C API, and its number there.
#define SUPPORT_DRAFT_LIBRARY_REASONS(X)         \
  X(directoryNotMade, DIRECTORY_NOT_MADE, 64)     \
  X(jobNotWritten, JOB_NOT_WRITTEN, 65)           \
  X(notAJobDirectory, NOT_A_JOB_DIRECTORY, 66)    \
  X(resultNotRemovable, RESULT_NOT_REMOVABLE, 67) \
  X(startFailed, START_FAILED, 68)                \
  X(bodyFileUnreadable, BODY_FILE_UNREADABLE, 69) \
  X(invalidArgument, INVALID_ARGUMENT, 70)        \
  X(outOfMemory, OUT_OF_MEMORY, 71)

namespace support_draft::host_side {

support_draft_reason apiReason(Reason reason);

// The stable code: the rule's own code, or the library's for its reasons;
// "" for none and for a number that is no reason.
const char* reasonCodeOf(support_draft_reason reason);

}  // namespace support_draft::host_side
