// The C API's reasons: the job rules' reasons under the numbers the API
// gives them, and the library's own reasons beside them. The codes of the
// rules come from the rules themselves.
#pragma once

#include "job/rule_breach.h"
#include "support_draft_host.h"

namespace support_draft::host_side {

support_draft_reason apiReason(Reason reason);

// The stable code: the rule's own code, or the library's for its reasons;
// "" for none and for a number that is no reason.
const char* reasonCodeOf(support_draft_reason reason);

}  // namespace support_draft::host_side
